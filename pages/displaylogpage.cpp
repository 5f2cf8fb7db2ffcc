#include "pages/displaylogpage.h"

#include "common/msgbox.h"
#include "pages/logfilelist.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

void UI_DisplayLogPage::setupUi(QWidget* page)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QStringLiteral("DisplayLogPage"));
    verticalLayout = new QVBoxLayout(page);
    horizontalLayout = new QHBoxLayout;
    comboBoxLogType = new QComboBox(page);
    comboBoxLogType->setObjectName(QStringLiteral("comboBoxLogType"));
    horizontalLayout->addWidget(comboBoxLogType);
    btnOpen = new QPushButton(page);
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    horizontalLayout->addWidget(btnOpen);
    Refresh = new QPushButton(page);
    Refresh->setObjectName(QStringLiteral("Refresh"));
    horizontalLayout->addWidget(Refresh);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    btnClear = new QPushButton(page);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    horizontalLayout->addWidget(btnClear);
    verticalLayout->addLayout(horizontalLayout);
    textBrowser = new QTextBrowser(page);
    textBrowser->setObjectName(QStringLiteral("textBrowser"));
    textBrowser->setReadOnly(true);
    textBrowser->document()->setMaximumBlockCount(DisplayLogPage::kMaxBlocks);
    verticalLayout->addWidget(textBrowser);
    retranslateUi(page);
}

void UI_DisplayLogPage::retranslateUi(QWidget* page)
{
    Q_UNUSED(page)
    btnOpen->setText(DisplayLogPage::tr("Open"));
    Refresh->setText(DisplayLogPage::tr("Refresh log file"));
    btnClear->setText(DisplayLogPage::tr("Clear"));
}

DisplayLogPage::DisplayLogPage(QWidget* parent)
    : QWidget(parent), ui(new UI_DisplayLogPage), flushTimer_(new QTimer(this))
{
    ui->setupUi(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(0);
    connect(flushTimer_, &QTimer::timeout, this, &DisplayLogPage::onFlushTimerTimeout);
    connect(ui->Refresh, &QPushButton::clicked, this, &DisplayLogPage::refreshLogType);
    connect(ui->btnOpen, &QPushButton::clicked, this, &DisplayLogPage::openLog);
    connect(ui->btnClear, &QPushButton::clicked, this, &DisplayLogPage::clearLog);
}

DisplayLogPage::~DisplayLogPage()
{
    delete ui;
}

void DisplayLogPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

void DisplayLogPage::refreshLogType()
{
    Q_EMIT sendCmd(kCmdList, QByteArray());
}

void DisplayLogPage::openLog()
{
    if (logOpen) {
        logOpen = false;
        ui->btnOpen->setText(tr("Open"));
    } else if (ui->comboBoxLogType->currentIndex() < 0) {
        MsgBox::warning(tr("Warning"), tr("Log file error!"));
        return;
    }
    QScrollBar* bar = ui->textBrowser->verticalScrollBar();
    bar->setValue(bar->maximum());
    Q_EMIT sendCmd(kCmdOpen, ui->comboBoxLogType->currentText().toLocal8Bit());
}

void DisplayLogPage::clearLog()
{
    // Text that arrived before the press goes with it.
    pending_.clear();
    pendingLines_ = 0;
    flushTimer_->stop();
    ui->textBrowser->clear();
}

void DisplayLogPage::handleRespond(int cmd, const quint8* data, int size)
{
    switch (cmd) {
    case kCmdList:
        fillList(data, size);
        break;
    case kCmdOpen:
        applyOpenResult(data, size);
        break;
    case kCmdText: {
        // Every payload becomes one paragraph of at least as many blocks as
        // it has lines. The view keeps only the newest kMaxBlocks blocks, so
        // waiting text that newer waiting text would push out of the view at
        // once could never be seen, and is let go. Text is kept as received
        // (up to a zero byte) and decoded only when it is appended.
        const char* bytes = reinterpret_cast<const char*>(data);
        const int length =
            size > 0 ? static_cast<int>(qstrnlen(bytes, static_cast<uint>(size))) : 0;
        const QByteArray text(bytes, length);
        const int lines = text.count('\n') + 1;
        pending_.append(PendingText{text, lines});
        pendingLines_ += lines;
        while (pendingLines_ - pending_.first().lines >= kMaxBlocks) {
            pendingLines_ -= pending_.first().lines;
            pending_.removeFirst();
            ++dropped_;
        }
        if (!flushTimer_->isActive())
            flushTimer_->start();
        break;
    }
    default:
        break;
    }
}

void DisplayLogPage::fillList(const quint8* data, int size)
{
    if (size <= 0) {
        MsgBox::information(tr("Information"), tr("No log file is accessible!"));
        return;
    }
    const LogFileList::Parsed list = LogFileList::parse(data, size);
    QComboBox* combo = ui->comboBoxLogType;
    combo->clear();
    for (const QString& name : list.names)
        combo->addItem(name);
    // A font given in pixels has no point size of its own; take the one it
    // matched to.
    int points = combo->font().pointSize();
    if (points <= 0)
        points = QFontInfo(combo->font()).pointSize();
    const int width = LogFileList::comboWidth(points, list.longest);
    combo->setMinimumWidth(width);
    combo->setMaximumWidth(width);
}

void DisplayLogPage::applyOpenResult(const quint8* data, int size)
{
    // A response without its result byte counts as a failure.
    if (size > 0 && data[0] != 0) {
        logOpen = true;
        ui->btnOpen->setText(tr("Close"));
    } else {
        MsgBox::information(tr("Information"), tr("Open log file failed!"));
    }
}

void DisplayLogPage::flushLogText()
{
    flushTimer_->stop();
    appendPending(pendingLines_);
}

void DisplayLogPage::onFlushTimerTimeout()
{
    const double budgetNs = appendBudgetMs_ * 1e6;
    const int maxLines = qBound(50, static_cast<int>(budgetNs / nsPerLine_), kMaxBlocks);
    appendPending(maxLines);
    if (!pending_.isEmpty())
        flushTimer_->start();
}

void DisplayLogPage::appendPending(int maxLines)
{
    if (pending_.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    QTextBrowser* view = ui->textBrowser;
    QScrollBar* bar = view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    int lines = 0;
    int paragraphs = 0;
    {
        // One edit for the whole step: the view is laid out and trimmed to
        // its block limit once, at the end.
        QTextCursor step(view->document());
        step.beginEditBlock();
        while (!pending_.isEmpty() && (paragraphs == 0 || lines < maxLines)) {
            const PendingText next = pending_.takeFirst();
            view->append(QString::fromUtf8(next.text));
            lines += next.lines;
            pendingLines_ -= next.lines;
            ++paragraphs;
        }
        step.endEditBlock();
    }
    appended_ += static_cast<quint64>(paragraphs);
    if (atBottom)
        bar->setValue(bar->maximum());
    if (lines >= 20) {
        const double cost = static_cast<double>(clock.nsecsElapsed()) / lines;
        nsPerLine_ = qBound(1000.0, 0.7 * nsPerLine_ + 0.3 * cost, 1e7);
    }
}
