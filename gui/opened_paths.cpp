#include "gui/opened_paths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace larkspool::gui {

QString StartPath(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QCoreApplication::translate("main", "Extracts the voice messages of a voice-mail admin backup (.bkp)"));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(
      QStringLiteral("FILE"),
      QCoreApplication::translate("main",
                                  "The backup file to start with; a folder fills the extraction folder"),
      QStringLiteral("[FILE]"));
  parser.process(arguments);
  const QStringList paths = parser.positionalArguments();
  if (paths.isEmpty() || paths.first().isEmpty()) return QString();
  return QFileInfo(paths.first()).absoluteFilePath();
}

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
