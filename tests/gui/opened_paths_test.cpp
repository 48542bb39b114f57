// The paths the desktop hands the program: the file named at the start and
// files or folders dropped on the main window or its fields.
#include "gui/opened_paths.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "builder/backup_builder.h"
#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::gui {
namespace {

using larkspool::testing::BackupBuilder;
using larkspool::testing::ScratchDir;
using larkspool::testing::WavPayload;

QString Field(const CMainDlg& window, const char* name) {
  return window.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
}

// Drags `data` over `target` and drops it there, as the window system does;
// returns whether the drag was accepted.
bool Drop(QWidget* target, const QMimeData& data) {
  const QPointF at(5, 5);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

QMimeData* Urls(const QList<QUrl>& urls) {
  auto* data = new QMimeData;
  data->setUrls(urls);
  return data;
}

}  // namespace

class OpenedPathsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { LoadDialogFont(); }

  void startArgumentFillsAFieldWithTheAbsolutePath() {
    ScratchDir scratch;
    BackupBuilder::Single(BackupKind::k3).Entry("a.wav", WavPayload(100)).WriteTo(scratch / "box.bkp");
    std::filesystem::create_directory(scratch / "out");
    QDir::setCurrent(QString::fromStdString(scratch.path()));
    const QString backup = QString::fromStdString(scratch / "box.bkp");
    const QString folder = QString::fromStdString(scratch / "out");

    QCOMPARE(StartPath({QStringLiteral("larkspool")}), QString());
    QCOMPARE(StartPath({QStringLiteral("larkspool"), QStringLiteral("box.bkp")}), backup);
    QCOMPARE(StartPath({QStringLiteral("larkspool"), backup}), backup);

    CMainDlg window;
    window.TakePath(StartPath({QStringLiteral("larkspool"), QStringLiteral("box.bkp")}));
    QCOMPARE(Field(window, "backupFile"), backup);
    QCOMPARE(Field(window, "folder"), QString());
    QCOMPARE(window.backupFile(), backup);
    window.TakePath(StartPath({QStringLiteral("larkspool"), QStringLiteral("out")}));
    QCOMPARE(Field(window, "backupFile"), backup);
    QCOMPARE(window.folder(), folder);
  }

  void dropFillsTheBackupFieldWithAFileAndTheFolderFieldWithAFolder() {
    ScratchDir scratch;
    std::filesystem::create_directory(scratch / "out");
    const QString backup = QString::fromStdString(scratch / "box.bkp");
    const QString folder = QString::fromStdString(scratch / "out");
    CMainDlg window;
    window.show();
    auto* backupEdit = window.findChild<QLineEdit*>(QStringLiteral("backupFile"));
    auto* folderEdit = window.findChild<QLineEdit*>(QStringLiteral("folder"));

    // A file dropped on the other field still goes to the backup field, a
    // folder dropped anywhere to the folder field; only the first local path
    // of a drag counts.
    const std::unique_ptr<QMimeData> file(
        Urls({QUrl(QStringLiteral("https://example.org/x.bkp")), QUrl::fromLocalFile(backup)}));
    QVERIFY(Drop(folderEdit, *file));
    QCOMPARE(Field(window, "backupFile"), backup);
    QCOMPARE(Field(window, "folder"), QString());
    const std::unique_ptr<QMimeData> dir(Urls({QUrl::fromLocalFile(folder)}));
    QVERIFY(Drop(&window, *dir));
    QCOMPARE(window.folder(), folder);
    QCOMPARE(window.backupFile(), backup);

    // A drag without a local path is not taken by the window, and text still
    // drops into a field as it always did.
    const std::unique_ptr<QMimeData> remote(Urls({QUrl(QStringLiteral("https://example.org/x.bkp"))}));
    QVERIFY(!Drop(&window, *remote));
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("typed.bkp"));
    backupEdit->clear();
    QVERIFY(Drop(backupEdit, *text));
    QCOMPARE(window.backupFile(), QStringLiteral("typed.bkp"));
    QCOMPARE(window.folder(), folder);
  }
};

}  // namespace larkspool::gui

QTEST_MAIN(larkspool::gui::OpenedPathsTest)
#include "opened_paths_test.moc"
