#include "pages/pageroot.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

void UI_PageRoot::setupUi(QWidget* page)
{
    if (page->objectName().isEmpty())
        page->setObjectName(QStringLiteral("PageRoot"));
    page->resize(607, 552);
    verticalLayout_2 = new QVBoxLayout(page);
    groupBox = new QGroupBox(page);
    verticalLayout = new QVBoxLayout(groupBox);
    textBrowserCmd = new QTextBrowser(groupBox);
    textBrowserCmd->setReadOnly(true);
    verticalLayout->addWidget(textBrowserCmd);
    horizontalLayout = new QHBoxLayout;
    leCmd = new QLineEdit(groupBox);
    horizontalLayout->addWidget(leCmd);
    btnSendCmd = new QPushButton(groupBox);
    horizontalLayout->addWidget(btnSendCmd);
    verticalLayout->addLayout(horizontalLayout);
    verticalLayout_2->addWidget(groupBox);
    retranslateUi(page);
}

void UI_PageRoot::retranslateUi(QWidget* page)
{
    page->setWindowTitle(PageRoot::tr("Form"));
    groupBox->setTitle(PageRoot::tr("Send Command"));
    btnSendCmd->setText(PageRoot::tr("Send"));
}

PageRoot::PageRoot(QWidget* parent) : QWidget(parent), ui(new UI_PageRoot)
{
    ui->setupUi(this);
    connect(ui->btnSendCmd, &QPushButton::clicked, this, &PageRoot::onSendCommand);
    connect(ui->leCmd, &QLineEdit::returnPressed, this, &PageRoot::onSendCommand);
}

PageRoot::~PageRoot()
{
    delete ui;
}

void PageRoot::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

void PageRoot::appendEntry(const QString& prefix, const QString& text, Qt::GlobalColor color)
{
    QTextCharFormat format;
    format.setForeground(QBrush(color, Qt::SolidPattern));
    QTextCursor cursor = ui->textBrowserCmd->textCursor();
    cursor.insertText(prefix + text + QStringLiteral("\r\n"), format);
    ui->textBrowserCmd->moveCursor(QTextCursor::End);
}

void PageRoot::onSendCommand()
{
    const QString line = ui->leCmd->text();
    if (line == QLatin1String("clear")) {
        ui->textBrowserCmd->clear();
        return;
    }
    appendEntry(tr("Send: "), line, Qt::darkBlue);
    Q_EMIT sendCmd(kCmdLine, line.toLocal8Bit());
}

void PageRoot::handleRespond(int cmd, const quint8* data, int size)
{
    if (cmd != kCmdReply)
        return;
    // The whole payload is shown: a zero byte does not end the text but
    // appears as a mark of its own, in reversed colours.
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), size > 0 ? size : 0);
    QTextCharFormat format;
    format.setForeground(QBrush(Qt::darkGreen, Qt::SolidPattern));
    QTextCharFormat mark;
    mark.setForeground(QBrush(Qt::white, Qt::SolidPattern));
    mark.setBackground(QBrush(Qt::darkGreen, Qt::SolidPattern));
    QTextCursor cursor = ui->textBrowserCmd->textCursor();
    cursor.insertText(tr("Recv: "), format);
    const QVector<QStringRef> pieces = text.splitRef(QChar(0));
    for (int i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            cursor.insertText(zeroByteMark(), mark);
        if (!pieces.at(i).isEmpty())
            cursor.insertText(pieces.at(i).toString(), format);
    }
    cursor.insertText(QStringLiteral("\r\n"), format);
    ui->textBrowserCmd->moveCursor(QTextCursor::End);
}
