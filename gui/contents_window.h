// The contents window: the messages of one backup in a list that filters as
// you type and sorts by each column, a player, and Extract Selected, Extract
// All and Verify. It remembers nothing between starts.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "desktop/contents_model.h"
#include "desktop/player.h"
#include "gui/qt_user_interface.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTableView;

namespace larkspool::gui {

// The model's rows for a Qt item view: nothing is made per row, each cell's
// text is asked for when it is drawn.
class ContentsTable final : public QAbstractTableModel {
  Q_OBJECT

 public:
  ContentsTable(desktop::ContentsModel& model, QObject* parent);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The header's clicks: the model's sort.
  void sort(int column, Qt::SortOrder order) override;

  // The model's rows changed (a filter, a sort, an Open): the view takes
  // them again.
  void Reload(const std::function<void()>& change);
  // The message playing, drawn in bold; none.
  void SetPlaying(std::optional<std::size_t> entry);
  // How a sort is made: by default a Reload; the window keeps its selection.
  void setRearrange(std::function<void(const std::function<void()>&)> rearrange) {
    rearrange_ = std::move(rearrange);
  }

 private:
  desktop::ContentsModel& model_;
  std::function<void(const std::function<void()>&)> rearrange_;
  std::optional<std::size_t> playing_;
};

class ContentsWindow : public QDialog {
  Q_OBJECT

 public:
  // Asks for the folder of an Extract; an empty path cancels.
  using FolderChooser = std::function<QString(QWidget* parent)>;

  // `output` plays the messages; by default the system's (Qt Multimedia).
  explicit ContentsWindow(std::unique_ptr<desktop::AudioOutput> output = {},
                          QtUserInterface::ProgressWindowFactory progressFactory = {},
                          QWidget* parent = nullptr);
  ~ContentsWindow() override;

  // Opens the backup (a password prompt, a damaged backup's salvage
  // progress); false, with the fault shown, when it cannot be listed. The
  // window is not shown by this.
  bool Open(const QString& backupFile);

  void OnPlayStop();
  void OnExtractSelected();
  void OnExtractAll();
  void OnVerify();
  void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }

  desktop::ContentsModel& model() { return model_; }
  desktop::Player& player() { return player_; }
  QtUserInterface& ui() { return ui_; }
  QTableView* table() const { return table_; }
  QLineEdit* filterEdit() const { return filter_; }
  QLabel* statusLabel() const { return status_; }
  QLabel* positionLabel() const { return position_; }
  // The shown rows selected, in order.
  std::vector<std::size_t> SelectedRows() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  void OnFilterChanged(const QString& text);
  void PlayRow(int row);
  void OnTick();
  void UpdatePlayer();
  void UpdateStatus();
  // Keeps the selection (the messages, not the row numbers) across a change
  // of the rows.
  void Rearrange(const std::function<void()>& change);

  QtUserInterface ui_;
  std::unique_ptr<desktop::AudioOutput> output_;
  desktop::ContentsModel model_;
  desktop::Player player_;
  ContentsTable* rows_;
  QLineEdit* filter_;
  QTableView* table_;
  QLabel* damage_;
  QPushButton* play_;
  QSlider* slider_;
  QLabel* position_;
  QPushButton* extractSelected_;
  QLabel* status_;
  QTimer timer_;
  FolderChooser chooseFolder_;
};

}  // namespace larkspool::gui
