#include "pages/displaylogpage.h"

#include "common/msgbox.h"
#include "common/utf8text.h"
#include "pages/logfilelist.h"

#include <QComboBox>
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
    connect(flushTimer_, &QTimer::timeout, this, &DisplayLogPage::flushLogText);
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
    pendingText_.clear();
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
    case kCmdText:
        // Every payload becomes one paragraph. The view keeps only the newest
        // kMaxBlocks paragraphs and each payload fills at least one, so older
        // text still waiting here could never be seen and is let go.
        if (pendingText_.size() >= kMaxBlocks) {
            pendingText_.removeFirst();
            ++dropped_;
        }
        pendingText_.append(utf8UpToZero(data, size));
        if (!flushTimer_->isActive())
            flushTimer_->start();
        break;
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
    if (pendingText_.isEmpty())
        return;
    QTextBrowser* view = ui->textBrowser;
    QScrollBar* bar = view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    const QStringList texts = std::move(pendingText_);
    pendingText_.clear();
    {
        // One edit for the whole burst: the view is laid out and trimmed to
        // its block limit once, at the end.
        QTextCursor batch(view->document());
        batch.beginEditBlock();
        for (const QString& text : texts)
            view->append(text);
        batch.endEditBlock();
    }
    appended_ += static_cast<quint64>(texts.size());
    if (atBottom)
        bar->setValue(bar->maximum());
}
