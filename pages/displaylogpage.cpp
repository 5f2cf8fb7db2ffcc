#include "pages/displaylogpage.h"

#include "common/dialogs.h"
#include "common/msgbox.h"
#include "pages/logfilelist.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSpacerItem>
#include <QTextBrowser>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <limits>

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
    btnSave = new QPushButton(page);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    horizontalLayout->addWidget(btnSave);
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
    btnSave->setText(DisplayLogPage::tr("Save to file..."));
}

DisplayLogPage::DisplayLogPage(QWidget* parent)
    : QWidget(parent),
      ui(new UI_DisplayLogPage),
      flushTimer_(new QTimer(this)),
      saveFlushTimer_(new QTimer(this))
{
    ui->setupUi(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(0);
    connect(flushTimer_, &QTimer::timeout, this, &DisplayLogPage::onFlushTimerTimeout);
    // What is saved reaches the disk at least once a second.
    saveFlushTimer_->setInterval(1000);
    connect(saveFlushTimer_, &QTimer::timeout, this, &DisplayLogPage::flushSaveFile);
    connect(ui->btnSave, &QPushButton::clicked, this, &DisplayLogPage::saveLog);
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
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        if (isSaving())
            ui->btnSave->setText(tr("Stop saving"));
        if (logOpen)
            ui->btnOpen->setText(tr("Close"));
    }
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
        stopSaving(); // the file holds the one log that was open
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
    skippedAhead_ = 0;
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
        // Saved whole, whatever the view can take.
        if (isSaving())
            writeToFile(data, size);
        // Text is kept as received (up to a zero byte) and decoded only when
        // it is appended.
        const char* bytes = reinterpret_cast<const char*>(data);
        const int length =
            size > 0 ? static_cast<int>(qstrnlen(bytes, static_cast<uint>(size))) : 0;
        queueText(QByteArray(bytes, length));
        break;
    }
    default:
        break;
    }
}

namespace {

// The view's append takes text as rich text when its first line looks like
// markup; only then can it hold fewer or more blocks than lines.
bool looksRich(const QByteArray& text)
{
    const int firstBreak = text.indexOf('\n');
    const QByteArray firstLine = firstBreak < 0 ? text : text.left(firstBreak);
    return (firstLine.contains('<') || firstLine.contains('&')) &&
           Qt::mightBeRichText(QString::fromUtf8(text));
}

int richBlocks(const QByteArray& text)
{
    QTextDocument scratch;
    QTextCursor(&scratch).insertHtml(QString::fromUtf8(text));
    return scratch.blockCount();
}

// Never fewer blocks than rich text makes: a block starts only at a tag, at
// a line break kept as it is (<pre>), at a paragraph separator or at an
// entity that stands for one.
int richBlocksAtMost(const QByteArray& text)
{
    return 1 + text.count('<') + text.count('\n') + text.count('&') +
           text.count("\xE2\x80\xA9");
}

} // namespace

int DisplayLogPage::viewLines(const QByteArray& text)
{
    if (looksRich(text))
        return richBlocks(text);
    return plainLines(text);
}

int DisplayLogPage::viewLinesAtMost(const QByteArray& text)
{
    return looksRich(text) ? richBlocksAtMost(text) : plainLines(text);
}

int DisplayLogPage::countLines(const QByteArray& text)
{
    if (!looksRich(text))
        return plainLines(text);
    // Laying out rich text to count its blocks costs about as much as
    // showing it. Within the append budget of one turn of the event loop it
    // is counted exactly; beyond, a flood of it is counted by a bound that
    // is never too low, so nothing is ever let go unmarked.
    if (countSpentNs_ >= appendBudgetMs_ * 1000000LL)
        return richBlocksAtMost(text);
    QElapsedTimer clock;
    clock.start();
    const int blocks = richBlocks(text);
    countSpentNs_ += clock.nsecsElapsed();
    return blocks;
}

int DisplayLogPage::plainLines(const QByteArray& text)
{
    // A block per line break, "\r\n" counting once, and per paragraph
    // separator (U+2029).
    int lines = 1;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\n')
            ++lines;
        else if (c == '\r' && (i + 1 == text.size() || text.at(i + 1) != '\n'))
            ++lines;
        else if (c == '\xE2' && i + 2 < text.size() && text.at(i + 1) == '\x80' &&
                 text.at(i + 2) == '\xA9')
            ++lines;
    }
    return lines;
}

QString DisplayLogPage::skippedText(quint64 lines)
{
    return tr("[lines skipped: %1]").arg(lines);
}

void DisplayLogPage::queueText(const QByteArray& text)
{
    const int lines = countLines(text);
    pending_.append(PendingText{text, lines});
    pendingLines_ += lines;
    // The view keeps only the newest kMaxBlocks blocks: waiting text that
    // newer waiting text would push out of the view at once could never be
    // seen. It is let go, oldest first, and one mark ahead of the waiting
    // text counts the lines; the mark takes a block of its own.
    while (pendingLines_ + (skippedAhead_ > 0 ? 1 : 0) > kMaxBlocks && pending_.size() > 1) {
        const PendingText gone = pending_.takeFirst();
        pendingLines_ -= gone.lines;
        ++dropped_;
        droppedLines_ += static_cast<quint64>(gone.lines);
        skippedAhead_ += static_cast<quint64>(gone.lines);
    }
    if (!flushTimer_->isActive())
        flushTimer_->start();
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
    // The list itself may be narrower than the names; its popup shows them
    // whole.
    QAbstractItemView* popup = combo->view();
    popup->setMinimumWidth(popup->sizeHintForColumn(0) + 2 * popup->frameWidth() +
                           popup->verticalScrollBar()->sizeHint().width());
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
    appendPending(std::numeric_limits<int>::max());
}

void DisplayLogPage::onFlushTimerTimeout()
{
    countSpentNs_ = 0;
    const double budgetNs = appendBudgetMs_ * 1e6;
    const int maxLines = qBound(50, static_cast<int>(budgetNs / nsPerLine_), kMaxBlocks);
    appendPending(maxLines);
    if (!pending_.isEmpty())
        flushTimer_->start();
}

void DisplayLogPage::appendPending(int maxLines)
{
    if (pending_.isEmpty() && skippedAhead_ == 0)
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
        if (skippedAhead_ > 0) {
            // The mark, set apart from the log's own text.
            QTextCharFormat format;
            format.setForeground(Qt::gray);
            format.setFontItalic(true);
            QTextCursor end(view->document());
            end.movePosition(QTextCursor::End);
            if (!view->document()->isEmpty())
                end.insertBlock(QTextBlockFormat(), QTextCharFormat());
            end.insertText(skippedText(skippedAhead_), format);
            skippedAhead_ = 0;
            ++lines;
        }
        while (!pending_.isEmpty() && (paragraphs == 0 || lines < maxLines)) {
            const PendingText next = pending_.takeFirst();
            view->append(QString::fromUtf8(next.text));
            ++paragraphs;
            lines += next.lines;
            pendingLines_ -= next.lines;
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

void DisplayLogPage::saveLog()
{
    if (isSaving()) {
        stopSaving();
        return;
    }
    const QString name = Dialogs::getSaveFileName(
        this, tr("Save log to file"), ui->comboBoxLogType->currentText(),
        tr("Log files (*.log *.txt);;All files (*)"));
    if (name.isEmpty())
        return;
    saveFile_.setFileName(name);
    if (!saveFile_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        MsgBox::warning(tr("Warning"), tr("Save log file failed!"));
        return;
    }
    ui->btnSave->setText(tr("Stop saving"));
    saveFlushTimer_->start();
}

void DisplayLogPage::writeToFile(const quint8* data, int size)
{
    // Every payload whole, zero bytes included, as one line of the file.
    QByteArray line(reinterpret_cast<const char*>(data), size > 0 ? size : 0);
    line.append('\n');
    if (saveFile_.write(line) != line.size())
        saveFailed();
}

void DisplayLogPage::flushSaveFile()
{
    if (isSaving() && !saveFile_.flush())
        saveFailed();
}

void DisplayLogPage::saveFailed()
{
    saveFile_.close();
    stopSaving();
    MsgBox::warning(tr("Warning"), tr("Save log file failed!"));
}

void DisplayLogPage::stopSaving()
{
    saveFlushTimer_->stop();
    ui->btnSave->setText(tr("Save to file..."));
    if (!saveFile_.isOpen())
        return;
    // What is still buffered must reach the file too.
    const bool written = saveFile_.flush();
    saveFile_.close();
    if (!written)
        MsgBox::warning(tr("Warning"), tr("Save log file failed!"));
}
