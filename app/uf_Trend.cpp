#include "app/uf_Trend.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "app/uMeasurementCsv.h"
#include "app/uViewElement.h"
#include "app/uf_TrendChart.h"
#include "support/uFileUtils.h"
#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

constexpr TTrendSpan kSpans[] = {TTrendSpan::Minutes1, TTrendSpan::Minutes10, TTrendSpan::Minutes60,
                                 TTrendSpan::All};
constexpr int kAllIndex = 3;

// The language item that tells the operator why a file cannot be written.
const char* WriteErrorReason(int Error) {
  switch (Error) {
    case ENOENT:
    case ENOTDIR:
      return "txWriteNoFolder";
    case EACCES:
    case EPERM:
    case EROFS:
      return "txWriteNoPermission";
    case ENOSPC:
    case EDQUOT:
      return "txWriteDiskFull";
    default:
      return "txWriteFailed";
  }
}

QIcon Swatch(const QColor& Color) {
  QPixmap pixmap(14, 14);
  pixmap.fill(Color);
  return QIcon(pixmap);
}

}  // namespace

TfTrendWindow::TfTrendWindow(TTrend& Trend, TViewElement& Form)
    : QWidget(nullptr, Qt::Window), FTrend(Trend), FForm(Form) {
  setObjectName(QStringLiteral("fTrend"));
  resize(760, 440);
  auto* tools = new QHBoxLayout;
  FSpan = new QComboBox(this);
  FRecord = new QPushButton(this);
  FRecord->setCheckable(true);
  FSaveImage = new QPushButton(this);
  FOwnScales = new QCheckBox(this);
  tools->addWidget(FSpan);
  tools->addWidget(FOwnScales);
  tools->addStretch(1);
  tools->addWidget(FRecord);
  tools->addWidget(FSaveImage);

  // The legend above the chart: what a saved picture shows.
  FPlot = new QWidget(this);
  FPlot->setAutoFillBackground(true);
  QPalette white = FPlot->palette();
  white.setColor(QPalette::Window, Qt::white);
  FPlot->setPalette(white);
  auto* legend = new QHBoxLayout;
  for (int index = 0; index < kTrendChannels; ++index) {
    auto* box = new QCheckBox(FPlot);
    box->setChecked(true);
    box->setIcon(Swatch(TrendColor(index)));
    connect(box, &QCheckBox::toggled, this,
            [this, index](bool Shown) { FChart->SetShown(index, Shown); });
    FShown[static_cast<std::size_t>(index)] = box;
    legend->addWidget(box);
  }
  legend->addStretch(1);
  FChart = new TTrendChart(FTrend, FPlot);
  auto* plot = new QVBoxLayout(FPlot);
  plot->addLayout(legend);
  plot->addWidget(FChart, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(tools);
  layout->addWidget(FPlot, 1);

  connect(FSpan, &QComboBox::activated, this,
          [this](int Index) { FChart->SetSpan(kSpans[std::clamp(Index, 0, kAllIndex)]); });
  connect(FOwnScales, &QCheckBox::toggled, this,
          [this](bool OwnScales) { FChart->SetOwnScales(OwnScales); });
  connect(FRecord, &QPushButton::clicked, this, [this] { RecordClicked(); });
  connect(FSaveImage, &QPushButton::clicked, this, [this] { SaveImageClicked(); });
  ApplyTexts();
  FSpan->setCurrentIndex(kAllIndex);
  UpdateLegend();
  FTrendListener = FTrend.AddListener([this](TTrend::TChange Change) { TrendChanged(Change); });
  FTextListener = FForm.AddListener([this](TViewElement& Changed, const std::string& Property) {
    if (Property == "Caption" && Changed.ClassName() == "TLanguageText") ApplyTexts();
  });
}

TfTrendWindow::~TfTrendWindow() {
  FForm.RemoveListener(FTextListener);
  FTrend.RemoveListener(FTrendListener);
}

QString TfTrendWindow::Text(const char* Name) const {
  return QString::fromStdString(FForm.Component(Name).GetText("Caption"));
}

void TfTrendWindow::ApplyTexts() {
  setWindowTitle(Text("txTrendCaption"));
  const int selected = FSpan->currentIndex();
  FSpan->clear();
  const std::string last = FForm.Component("txTrendLast").GetText("Caption");
  for (const char* minutes : {"1", "10", "60"})
    FSpan->addItem(QString::fromStdString(FillIn(last, {minutes})));
  FSpan->addItem(Text("txTrendAll"));
  FSpan->setCurrentIndex(selected);
  FRecord->setText(Text(Recording() ? "txTrendStop" : "txTrendRecord"));
  FSaveImage->setText(Text("txTrendSaveImage"));
  FOwnScales->setText(Text("txTrendOwnScales"));
}

void TfTrendWindow::UpdateLegend() {
  const TTrendChannels& channels = FTrend.Channels();
  if (channels == FLegend && !FShown[0]->text().isEmpty()) return;
  FLegend = channels;
  for (int index = 0; index < kTrendChannels; ++index) {
    const TTrendChannel& channel = channels[static_cast<std::size_t>(index)];
    QString text = channel.Name.empty() ? QStringLiteral("%1").arg(index + 1)
                                        : QString::fromStdString(channel.Name);
    if (!channel.Unit.empty())
      text += QStringLiteral(" [%1]").arg(QString::fromStdString(channel.Unit));
    FShown[static_cast<std::size_t>(index)]->setText(text);
  }
}

void TfTrendWindow::TrendChanged(TTrend::TChange Change) {
  if (Change == TTrend::TChange::Cleared) {
    // The recording belongs to the module that went.
    StopRecording();
  } else if (FRecording) {
    try {
      FRecording->Write(FTrend.Readings().back());
    } catch (const ECannotWrite& error) {
      const std::string file = FRecording->FileName();
      StopRecording();
      ShowWriteError(file, error.Error());
    }
  }
  UpdateLegend();
  FChart->update();
}

void TfTrendWindow::Open() {
  show();
  raise();
  activateWindow();
}

bool TfTrendWindow::StartRecording(const QString& File) {
  try {
    FRecording = std::make_unique<TCsvRecording>(File.toStdString(), FTrend.Channels());
  } catch (const ECannotWrite& error) {
    ShowWriteError(File.toStdString(), error.Error());
    return false;
  }
  FRecord->setChecked(true);
  FRecord->setText(Text("txTrendStop"));
  return true;
}

void TfTrendWindow::StopRecording() {
  FRecording.reset();
  FRecord->setChecked(false);
  FRecord->setText(Text("txTrendRecord"));
}

bool TfTrendWindow::SaveImage(const QString& File) const {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  const int error =
      FPlot->grab().save(&buffer, "PNG")
          ? WriteWholeFile(File.toStdString(),
                           std::string_view(png.constData(), static_cast<std::size_t>(png.size())))
          : EIO;
  if (error != 0) ShowWriteError(File.toStdString(), error);
  return error == 0;
}

void TfTrendWindow::ShowWriteError(const std::string& File, int Error) const {
  DebugLog("Cannot write " + File + ": " + std::strerror(Error));
  const std::string reason = FForm.Component(WriteErrorReason(Error)).GetText("Caption");
  ShowMessage(FillIn(FForm.Component("txCannotWrite").GetText("Caption"), {File, reason}));
}

void TfTrendWindow::RecordClicked() {
  if (Recording()) {
    StopRecording();
    return;
  }
  FRecord->setChecked(false);
  const QString file =
      AskFile("txTrendRecord", QStringLiteral("trend.csv"), QStringLiteral("CSV (*.csv)"));
  if (!file.isEmpty()) StartRecording(file);
}

void TfTrendWindow::SaveImageClicked() {
  const QString file =
      AskFile("txTrendSaveImage", QStringLiteral("trend.png"), QStringLiteral("PNG (*.png)"));
  if (!file.isEmpty()) SaveImage(file);
}

QString TfTrendWindow::AskFile(const char* Title, const QString& Name, const QString& Filter) {
  QString folder = FLastFolder;
  if (folder.isEmpty())
    folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!QDir(folder).exists()) folder = QDir::homePath();
  // Qt's own dialog: the platform's would speak the desktop's language, not the window's.
  QFileDialog dialog(this, Text(Title), folder, Filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.selectFile(Name);
  dialog.setLabelText(QFileDialog::LookIn, Text("txFileFolder"));
  dialog.setLabelText(QFileDialog::FileName, Text("txFileName"));
  dialog.setLabelText(QFileDialog::FileType, Text("txFileType"));
  dialog.setLabelText(QFileDialog::Accept, Text("txFileSave"));
  dialog.setLabelText(QFileDialog::Reject, Text("txFileCancel"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const QString file = dialog.selectedFiles().front();
  FLastFolder = QFileInfo(file).absolutePath();
  return file;
}
