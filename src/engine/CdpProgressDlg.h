// The small modal dialog shown while the player component analyses a table of contents:
// the analysis caption with its step count, the elapsed time, a progress bar and Cancel.
// The worker's notifications are posted to the dialog's thread; only they close it.
#pragma once

#include <QDialog>

#include "engine/TocAnalysis.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vantrel {

// Created on the user-interface thread, which also runs Prepare and ShowModal; Notify
// may be called from any thread. Cancel, Escape and the window's close button ask the
// component to cancel; the dialog stays up until the worker's closing notification.
class TCdpProgressDlg : public QDialog, public IAnalysisProgress {
    Q_OBJECT
public:
    explicit TCdpProgressDlg(TKsCdPlayer& player, QWidget* parent = nullptr);
    ~TCdpProgressDlg() override;

    // A factory for TKsCdPlayer::SetProgressFactory.
    static AnalysisProgressFactory Factory(QWidget* parent = nullptr);

    void Prepare(const std::string& caption, const std::string& elapsedLabel, const TDlgFont& font) override;
    void ShowModal() override;
    void Notify(int code, int value) override;

    const TProgressState& State() const { return state_; }
    int ElapsedSeconds() const { return seconds_; }

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Apply(int code, int value);
    void TimerTimer();
    void ShowElapsed();

    TKsCdPlayer& player_;
    QLabel* TimeLbl1;
    QLabel* TimeLbl;
    QProgressBar* ProgressBar;
    QPushButton* CancelBtn;
    QTimer* Timer;
    TProgressState state_;
    int ticks_ = 0;
    int seconds_ = 0;
    bool closing_ = false;
};

} // namespace vantrel
