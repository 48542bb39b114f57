#include "gui/opened_paths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <string>
#include <vector>

#include "desktop/main_window_model.h"

namespace larkspool::gui {

StartRequest ParseStart(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QCoreApplication::translate("main", "Extracts the voice messages of a voice-mail admin backup (.bkp)"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption contents(
      QStringLiteral("contents"),
      QCoreApplication::translate(
          "main", "Open FILE in the contents window: list, play and extract chosen messages"));
  parser.addOption(contents);
  parser.addPositionalArgument(
      QStringLiteral("FILE"),
      QCoreApplication::translate("main",
                                  "The backup file to start with; a folder fills the extraction folder"),
      QStringLiteral("[FILE]"));
  parser.process(arguments);
  std::vector<std::string> paths;
  for (const QString& path : parser.positionalArguments())
    paths.push_back(QFile::encodeName(path).toStdString());
  return StartRequest{QFile::decodeName(desktop::StartPath(paths).c_str()), parser.isSet(contents)};
}

QString StartPath(const QStringList& arguments) { return ParseStart(arguments).path; }

QString DroppedPath(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return QString();
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return QString();
}

PathDrop::PathDrop(QWidget* window, Handler handler) : QObject(window), handler_(std::move(handler)) {
  window->setAcceptDrops(true);
  Watch(window);
}

void PathDrop::Watch(QWidget* widget) { widget->installEventFilter(this); }

bool PathDrop::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString path = DroppedPath(drop->mimeData());
      if (path.isEmpty()) break;
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      if (event->type() == QEvent::Drop) handler_(path);
      return true;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace larkspool::gui
