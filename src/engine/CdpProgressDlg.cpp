#include "engine/CdpProgressDlg.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/KsCdPlayer.h"

namespace vantrel {

namespace {

constexpr int kClientWidth = 358, kClientHeight = 109;
constexpr int kTimerMs = 200;
constexpr int kTicksPerSecond = 1000 / kTimerMs;

QString Text(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

TCdpProgressDlg::TCdpProgressDlg(TKsCdPlayer& player, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), player_(player),
      TimeLbl1(new QLabel(QStringLiteral("経過時間:"), this)), TimeLbl(new QLabel(QStringLiteral("00:00"), this)),
      ProgressBar(new QProgressBar(this)), CancelBtn(new QPushButton(tr("&Cancel"), this)), Timer(new QTimer(this))
{
    setObjectName(QStringLiteral("CdpProgressDlg"));
    setWindowTitle(QStringLiteral("TOC Analysis"));
    setModal(true);
    setFixedSize(kClientWidth, kClientHeight);
    TimeLbl1->setObjectName(QStringLiteral("TimeLbl1"));
    TimeLbl->setObjectName(QStringLiteral("TimeLbl"));
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setFocusPolicy(Qt::NoFocus);
    CancelBtn->setAutoDefault(false);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kTimerMs);

    auto* time = new QHBoxLayout;
    time->addWidget(TimeLbl1);
    time->addWidget(TimeLbl);
    time->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(time);
    layout->addWidget(ProgressBar);
    layout->addLayout(buttons);

    connect(Timer, &QTimer::timeout, this, &TCdpProgressDlg::TimerTimer);
    connect(CancelBtn, &QPushButton::clicked, this, [this] { player_.CancelDlgOpeartion(); });
}

TCdpProgressDlg::~TCdpProgressDlg() = default;

AnalysisProgressFactory TCdpProgressDlg::Factory(QWidget* parent)
{
    return [parent](TKsCdPlayer& player) { return std::make_unique<TCdpProgressDlg>(player, parent); };
}

void TCdpProgressDlg::Prepare(const std::string& caption, const std::string& elapsedLabel, const TDlgFont& font)
{
    state_ = TProgressState{};
    state_.baseCaption = state_.caption = caption;
    setWindowTitle(Text(caption));
    TimeLbl1->setText(Text(elapsedLabel));
    QFont qfont = this->font();
    if (!font.Name.empty())
        qfont.setFamily(Text(font.Name));
    if (font.Size > 0)
        qfont.setPointSize(font.Size);
    qfont.setBold(font.Bold);
    qfont.setItalic(font.Italic);
    qfont.setUnderline(font.Underline);
    qfont.setStrikeOut(font.StrikeOut);
    setFont(qfont);
}

void TCdpProgressDlg::ShowModal()
{
    exec();
}

void TCdpProgressDlg::Notify(int code, int value)
{
    // Posted: the worker never touches the widgets.
    QMetaObject::invokeMethod(
        this, [this, code, value] { Apply(code, value); }, Qt::QueuedConnection);
}

void TCdpProgressDlg::Apply(int code, int value)
{
    const bool closes = state_.Apply(code, value);
    ProgressBar->setMaximum(state_.barMax);
    ProgressBar->setValue(state_.barPos);
    if (closes) {
        Timer->stop();
        closing_ = true;
        done(code == anFinished ? QDialog::Accepted : QDialog::Rejected);
    }
}

void TCdpProgressDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setWindowTitle(Text(state_.baseCaption));
    ticks_ = seconds_ = 0;
    ShowElapsed();
    state_.barMax = 1;
    state_.barPos = 0;
    ProgressBar->setMaximum(1);
    ProgressBar->setValue(0);
    Timer->start();
}

void TCdpProgressDlg::TimerTimer()
{
    setWindowTitle(Text(state_.caption));
    if (++ticks_ % kTicksPerSecond == 0)
        ++seconds_;
    ShowElapsed();
}

void TCdpProgressDlg::ShowElapsed()
{
    TimeLbl->setText(QString::asprintf("%.2d:%.2d", seconds_ / 60, seconds_ % 60));
}

void TCdpProgressDlg::reject()
{
    // Escape cancels the analysis; the worker closes the dialog when it has stopped.
    player_.CancelDlgOpeartion();
}

void TCdpProgressDlg::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    player_.CancelDlgOpeartion();
    event->ignore();
}

} // namespace vantrel
