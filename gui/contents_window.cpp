#include "gui/contents_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_set>

#include "desktop/front_end.h"
#include "gui/dialog_units.h"
#include "gui/qt_audio_output.h"
#include "platform/file_system.h"

namespace larkspool::gui {
namespace {

using desktop::ContentsColumn;

constexpr int kSliderRange = 1000;
constexpr int kTickMilliseconds = 50;

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

bool IsNumeric(int column) {
  const auto c = static_cast<ContentsColumn>(column);
  return c == ContentsColumn::kDuration || c == ContentsColumn::kSize || c == ContentsColumn::kSampleRate;
}

QString ChooseFolder(QWidget* parent) {
  return QFileDialog::getExistingDirectory(parent, QObject::tr("Extract to"));
}

}  // namespace

ContentsTable::ContentsTable(desktop::ContentsModel& model, QObject* parent)
    : QAbstractTableModel(parent), model_(model) {}

int ContentsTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(model_.size());
}

int ContentsTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : model_.columnCount();
}

QVariant ContentsTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= model_.size()) return {};
  const auto column = static_cast<ContentsColumn>(index.column());
  if (role == Qt::DisplayRole) {
    const std::string text = model_.Cell(static_cast<std::size_t>(index.row()), column);
    // Names are the system's bytes, as the files an Extract writes; the
    // rest is the program's own text.
    return column == ContentsColumn::kName ? QFile::decodeName(text.c_str())
                                           : QString::fromUtf8(text.c_str());
  }
  if (role == Qt::TextAlignmentRole && IsNumeric(index.column())) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
  }
  if (role == Qt::FontRole && playing_ && model_.row(static_cast<std::size_t>(index.row())) == *playing_) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  return {};
}

void ContentsTable::SetPlaying(std::optional<std::size_t> entry) {
  if (entry == playing_) return;
  playing_ = entry;
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::FontRole});
}

QVariant ContentsTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= model_.columnCount()) return {};
  if (role == Qt::DisplayRole) {
    return QString::fromLatin1(ColumnHeading(static_cast<ContentsColumn>(section)).data());
  }
  if (role == Qt::TextAlignmentRole && IsNumeric(section)) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
  }
  return {};
}

void ContentsTable::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= model_.columnCount()) return;
  const auto change = [&] {
    model_.SortBy(static_cast<ContentsColumn>(column), order == Qt::AscendingOrder);
  };
  if (rearrange_) {
    rearrange_(change);
  } else {
    Reload(change);
  }
}

void ContentsTable::Reload(const std::function<void()>& change) {
  beginResetModel();
  change();
  endResetModel();
}

ContentsWindow::ContentsWindow(std::unique_ptr<desktop::AudioOutput> output,
                               QtUserInterface::ProgressWindowFactory progressFactory, QWidget* parent)
    : QDialog(parent),
      ui_(this, std::move(progressFactory)),
      output_(output ? std::move(output) : std::make_unique<QtAudioOutput>()),
      model_(NativeFileSystem(), ui_),
      player_(model_, *output_, ui_),
      chooseFolder_(&ChooseFolder) {
  setWindowTitle(QString::fromLatin1(desktop::kCaption));
  QIcon icon;
  icon.addFile(QStringLiteral(":/res/larkspool-32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/res/larkspool-16.png"), QSize(16, 16));
  setWindowIcon(icon);
  setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  setFont(DialogFont());

  // Creation order is the tab order: the filter, the list, the player, the
  // runs.
  auto* filterLabel = new QLabel(tr("&Filter:"), this);
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("filter"));
  filter_->setPlaceholderText(tr("Filter messages"));
  filter_->setAccessibleName(tr("Filter messages"));
  filter_->setClearButtonEnabled(true);
  filterLabel->setBuddy(filter_);

  rows_ = new ContentsTable(model_, this);
  rows_->setRearrange([this](const std::function<void()>& change) { Rearrange(change); });
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("messages"));
  table_->setAccessibleName(tr("Messages"));
  table_->setModel(rows_);
  const QFontMetrics metrics(font());
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);
  table_->setShowGrid(false);
  table_->setWordWrap(false);
  table_->setAlternatingRowColors(true);
  // Backup order until a header is clicked.
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  table_->horizontalHeader()->setHighlightSections(false);
  // The name takes what the other columns leave.
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  table_->horizontalHeader()->setMinimumSectionSize(metrics.horizontalAdvance(QStringLiteral("Sample rate")) /
                                                    2);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Every row as high as one line of text, so nothing is measured per row.
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
  const int digit = metrics.horizontalAdvance(QLatin1Char('0'));
  table_->setColumnWidth(1, digit * 10);
  table_->setColumnWidth(2, digit * 11);
  table_->setColumnWidth(3, digit * 12);
  table_->setColumnWidth(4, digit * 12);
  table_->setColumnWidth(5, digit * 11);
  table_->installEventFilter(this);

  damage_ = new QLabel(this);
  damage_->setObjectName(QStringLiteral("damage"));
  damage_->setAccessibleName(tr("Damaged parts"));
  damage_->setWordWrap(true);
  damage_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  damage_->hide();

  play_ = new QPushButton(tr("&Play"), this);
  play_->setObjectName(QStringLiteral("play"));
  play_->setAccessibleName(tr("Play"));
  play_->setAutoDefault(false);
  auto* positionLabel = new QLabel(tr("P&osition:"), this);
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName(QStringLiteral("position"));
  slider_->setAccessibleName(tr("Position"));
  slider_->setRange(0, kSliderRange);
  slider_->setPageStep(kSliderRange / 10);
  slider_->setSingleStep(kSliderRange / 100);
  positionLabel->setBuddy(slider_);
  position_ = new QLabel(QStringLiteral("0:00 / 0:00"), this);
  position_->setObjectName(QStringLiteral("time"));
  position_->setAccessibleName(tr("Time"));

  extractSelected_ = new QPushButton(tr("&Extract Selected..."), this);
  extractSelected_->setObjectName(QStringLiteral("extractSelected"));
  auto* extractAll = new QPushButton(tr("Extract &All..."), this);
  extractAll->setObjectName(QStringLiteral("extractAll"));
  auto* verify = new QPushButton(tr("&Verify"), this);
  verify->setObjectName(QStringLiteral("verify"));
  auto* close = new QPushButton(tr("&Close"), this);
  close->setObjectName(QStringLiteral("close"));
  for (QPushButton* button : {extractSelected_, extractAll, verify, close}) {
    button->setAutoDefault(false);
    button->setAccessibleName(button->text().remove(QLatin1Char('&')).remove(QStringLiteral("...")));
  }
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setAccessibleName(tr("Status"));

  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(filterLabel);
  filterRow->addWidget(filter_, 1);
  auto* playerRow = new QHBoxLayout;
  playerRow->addWidget(play_);
  playerRow->addWidget(positionLabel);
  playerRow->addWidget(slider_, 1);
  playerRow->addWidget(position_);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(status_, 1);
  buttonRow->addWidget(extractSelected_);
  buttonRow->addWidget(extractAll);
  buttonRow->addWidget(verify);
  buttonRow->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filterRow);
  layout->addWidget(table_, 1);
  layout->addWidget(damage_);
  layout->addLayout(playerRow);
  layout->addLayout(buttonRow);
  resize(digit * 90, metrics.height() * 30);

  connect(filter_, &QLineEdit::textChanged, this, &ContentsWindow::OnFilterChanged);
  connect(table_, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { PlayRow(index.row()); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &ContentsWindow::UpdateStatus);
  connect(play_, &QPushButton::clicked, this, &ContentsWindow::OnPlayStop);
  connect(extractSelected_, &QPushButton::clicked, this, &ContentsWindow::OnExtractSelected);
  connect(extractAll, &QPushButton::clicked, this, &ContentsWindow::OnExtractAll);
  connect(verify, &QPushButton::clicked, this, &ContentsWindow::OnVerify);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  // The slider moves the player when it is let go, and at once for a key or
  // a click beside the handle.
  connect(slider_, &QSlider::sliderReleased, this, [this] {
    player_.SeekFraction(static_cast<double>(slider_->value()) / kSliderRange);
    UpdatePlayer();
  });
  connect(slider_, &QSlider::actionTriggered, this, [this](int action) {
    if (action == QAbstractSlider::SliderMove || slider_->isSliderDown()) return;
    player_.SeekFraction(static_cast<double>(slider_->sliderPosition()) / kSliderRange);
    UpdatePlayer();
  });
  // While the handle is dragged, the time shows where it would play from.
  connect(slider_, &QSlider::sliderMoved, this, [this](int value) {
    const std::optional<std::size_t> entry = player_.loadedEntry();
    if (!entry || !model_.entries()[*entry].audio || model_.entries()[*entry].audio->sampleRate == 0) return;
    const double seconds = static_cast<double>(player_.length()) / model_.entries()[*entry].audio->sampleRate;
    const std::string text =
        desktop::ClockText(seconds * value / kSliderRange) + " / " + desktop::ClockText(seconds);
    position_->setText(QString::fromLatin1(text.c_str()));
  });
  timer_.setInterval(kTickMilliseconds);
  connect(&timer_, &QTimer::timeout, this, &ContentsWindow::OnTick);
  table_->setSortingEnabled(true);
  UpdatePlayer();
  UpdateStatus();
}

ContentsWindow::~ContentsWindow() {
  timer_.stop();
  player_.Stop();
}

bool ContentsWindow::Open(const QString& backupFile) {
  player_.Stop();
  bool opened = false;
  Rearrange([&] { opened = model_.Open(LocalPath(backupFile)); });
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  filter_->blockSignals(true);
  filter_->clear();
  filter_->blockSignals(false);
  setWindowTitle(QFile::decodeName(model_.Title().c_str()));
  damage_->setText(QString::fromUtf8(model_.damageText().c_str()));
  damage_->setVisible(model_.damaged());
  if (model_.damaged()) table_->setColumnWidth(5, table_->columnWidth(3));
  if (model_.size() > 0) {
    table_->setCurrentIndex(rows_->index(0, 0));
    table_->selectionModel()->clearSelection();
  }
  table_->setFocus();
  UpdatePlayer();
  UpdateStatus();
  return opened;
}

std::vector<std::size_t> ContentsWindow::SelectedRows() const {
  std::vector<std::size_t> rows;
  for (const QItemSelectionRange& range : table_->selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(static_cast<std::size_t>(row));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void ContentsWindow::Rearrange(const std::function<void()>& change) {
  // The selection and the current row by message; restored as ranges of
  // rows, so a selection of every row is one range.
  std::unordered_set<std::size_t> selected;
  for (const std::size_t row : SelectedRows()) selected.insert(model_.row(row));
  // No current row: a value no entry has.
  const QModelIndex current = table_->currentIndex();
  std::size_t currentEntry = SIZE_MAX;
  if (current.isValid() && static_cast<std::size_t>(current.row()) < model_.size())
    currentEntry = model_.row(static_cast<std::size_t>(current.row()));
  rows_->Reload(change);
  QItemSelection selection;
  const int last = rows_->columnCount() - 1;
  int start = -1;
  int currentRow = -1;
  for (std::size_t row = 0; row <= model_.size(); ++row) {
    const bool in = row < model_.size() && selected.contains(model_.row(row));
    if (row < model_.size() && model_.row(row) == currentEntry) currentRow = static_cast<int>(row);
    if (in && start < 0) start = static_cast<int>(row);
    if (!in && start >= 0) {
      selection.select(rows_->index(start, 0), rows_->index(static_cast<int>(row) - 1, last));
      start = -1;
    }
  }
  if (currentRow >= 0)
    table_->selectionModel()->setCurrentIndex(rows_->index(currentRow, 0), QItemSelectionModel::NoUpdate);
  table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  UpdateStatus();
}

void ContentsWindow::OnFilterChanged(const QString& text) {
  Rearrange([&] { model_.SetFilter(text.toUtf8().toStdString()); });
}

void ContentsWindow::PlayRow(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= model_.size()) return;
  player_.Play(static_cast<std::size_t>(row));
  UpdatePlayer();
}

void ContentsWindow::OnPlayStop() {
  const QModelIndex current = table_->currentIndex();
  std::optional<std::size_t> row;
  if (current.isValid()) row = static_cast<std::size_t>(current.row());
  player_.Toggle(row);
  UpdatePlayer();
}

void ContentsWindow::OnTick() {
  player_.Tick();
  UpdatePlayer();
}

void ContentsWindow::UpdatePlayer() {
  const bool playing = player_.playing();
  // The message playing is drawn in bold.
  rows_->SetPlaying(playing ? player_.loadedEntry() : std::nullopt);
  play_->setText(playing ? tr("&Stop") : tr("&Play"));
  play_->setAccessibleName(playing ? tr("Stop") : tr("Play"));
  if (!slider_->isSliderDown()) {
    const QSignalBlocker quiet(slider_);
    slider_->setValue(player_.SliderValue(kSliderRange));
  }
  slider_->setEnabled(player_.length() > 0);
  position_->setText(QString::fromLatin1(player_.PositionText().c_str()));
  if (playing && !timer_.isActive()) timer_.start();
  if (!playing) timer_.stop();
}

void ContentsWindow::UpdateStatus() {
  const std::vector<std::size_t> rows = SelectedRows();
  status_->setText(QString::fromUtf8(model_.StatusText(rows).c_str()));
  extractSelected_->setEnabled(!rows.empty());
}

void ContentsWindow::OnExtractSelected() {
  const std::vector<std::size_t> rows = SelectedRows();
  if (rows.empty()) return;
  const QString folder = chooseFolder_(this);
  if (folder.isEmpty()) return;
  model_.ExtractRows(rows, LocalPath(folder));
}

void ContentsWindow::OnExtractAll() {
  const QString folder = chooseFolder_(this);
  if (folder.isEmpty()) return;
  model_.ExtractAll(LocalPath(folder));
}

void ContentsWindow::OnVerify() { model_.Verify(); }

bool ContentsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && key->key() == Qt::Key_Space) {
      OnPlayStop();
      return true;
    }
    if (plain && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
      PlayRow(table_->currentIndex().row());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void ContentsWindow::closeEvent(QCloseEvent* event) {
  player_.Stop();
  UpdatePlayer();
  QDialog::closeEvent(event);
}

void ContentsWindow::done(int result) {
  player_.Stop();
  UpdatePlayer();
  QDialog::done(result);
}

}  // namespace larkspool::gui
