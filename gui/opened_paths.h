// The paths the desktop hands the program besides the two fields: the file
// named on the command line ("Open with Larkspool") and files or folders
// dropped on the main window.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

namespace larkspool::gui {

// The path a start with `arguments` (the program's name first, Qt's own
// options already taken out) opens, made absolute against the current folder
// so that entering the extraction folder cannot change what it names; empty
// when there is none. --help and --version print and end the program.
QString StartPath(const QStringList& arguments);

// The same, and whether --contents asks for the contents window instead of
// the main window.
struct StartRequest {
  QString path;
  bool contents = false;
};
StartRequest ParseStart(const QStringList& arguments);

// The local path of the first file or folder a drag carries; empty when it
// carries none (text, a remote address).
QString DroppedPath(const QMimeData* data);

// Takes the drops of local files and folders on the widgets it watches,
// before they reach the widgets themselves, and hands each path on. Every
// other drag (text dragged into a field) goes on as before.
class PathDrop : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(const QString& path)>;
  // Watches `window`, which it belongs to, and makes it accept drops.
  PathDrop(QWidget* window, Handler handler);
  void Watch(QWidget* widget);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Handler handler_;
};

}  // namespace larkspool::gui
