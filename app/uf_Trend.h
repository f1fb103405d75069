#pragma once
// The trend window: the connected module's four channels over time, beside the main window
// and resizable. A legend with a tick box per channel, the span of the time axis, each
// channel on its own scale or all on one, a
// recording of every reading into a CSV file and the chart saved as a picture. Its texts
// are the main window's language items (txTrend...), so a language file reaches them.
#include <QWidget>
#include <array>
#include <memory>

#include "app/uTrend.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class TCsvRecording;
class TTrendChart;
class TViewElement;

class TfTrendWindow : public QWidget {
 public:
  TfTrendWindow(TTrend& Trend, TViewElement& Form);
  ~TfTrendWindow() override;
  TfTrendWindow(const TfTrendWindow&) = delete;
  TfTrendWindow& operator=(const TfTrendWindow&) = delete;

  // Shows the window, or brings it to the front.
  void Open();
  // Records every reading from now on into File. A file that cannot be written is reported to
  // the operator, in the window's language, and the answer is false.
  bool StartRecording(const QString& File);
  void StopRecording();
  bool Recording() const { return static_cast<bool>(FRecording); }
  // The legend and the chart as a PNG picture; reported and false when it cannot be written.
  bool SaveImage(const QString& File) const;

  TTrendChart& Chart() const { return *FChart; }
  QCheckBox& ChannelBox(int Channel) const { return *FShown[static_cast<std::size_t>(Channel)]; }
  QComboBox& SpanList() const { return *FSpan; }
  QCheckBox& OwnScalesBox() const { return *FOwnScales; }
  QPushButton& RecordButton() const { return *FRecord; }

 private:
  void ApplyTexts();
  void UpdateLegend();
  void TrendChanged(TTrend::TChange Change);
  void RecordClicked();
  void SaveImageClicked();
  QString Text(const char* Name) const;
  // Asks for the file to write, in the folder used last (at first the user's documents), the
  // dialog's texts in the window's language; empty when the operator cancels.
  QString AskFile(const char* Title, const QString& Name, const QString& Filter);
  void ShowWriteError(const std::string& File, int Error) const;

  TTrend& FTrend;
  TViewElement& FForm;
  int FTrendListener = 0;
  int FTextListener = 0;
  TTrendChart* FChart;
  QWidget* FPlot;
  QComboBox* FSpan;
  QCheckBox* FOwnScales;
  QPushButton* FRecord;
  QPushButton* FSaveImage;
  std::array<QCheckBox*, kTrendChannels> FShown{};
  TTrendChannels FLegend;
  std::unique_ptr<TCsvRecording> FRecording;
  QString FLastFolder;
};
