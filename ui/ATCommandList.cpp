#include "ATCommandList.h"

#include "SendToModule.h"
#include "WindowStyle.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

TfrmResult::TfrmResult(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint)
    , GBResult(new QGroupBox(this))
    , btnOK(new QPushButton(QStringLiteral("OK"), this))
    , memLog(new QPlainTextEdit(GBResult))
    , btnSend(new QPushButton(QStringLiteral("Send to Module..."), this))
{
    setObjectName(QStringLiteral("frmResult"));
    setWindowTitle(QStringLiteral("AT Commands List"));
    setFont(qz::windowFont());
    setWindowIcon(qz::applicationIcon());
    setFixedSize(467, 424);

    GBResult->setObjectName(QStringLiteral("GBResult"));
    GBResult->setGeometry(0, 0, 467, 385);

    memLog->setObjectName(QStringLiteral("memLog"));
    memLog->setGeometry(2, 14, 463, 369);
    memLog->setReadOnly(true);
    memLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(176, 392, 75, 25);
    // Neither default nor cancel button: Enter in memLog must not close the window.
    btnOK->setAutoDefault(false);
    btnOK->setDefault(false);
    connect(btnOK, &QPushButton::clicked, this, &TfrmResult::btnOKClick);

    btnSend->setObjectName(QStringLiteral("btnSend"));
    btnSend->setGeometry(259, 392, 120, 25);
    btnSend->setAutoDefault(false);
    btnSend->setEnabled(false); // until there are commands to send
    connect(btnSend, &QPushButton::clicked, this, &TfrmResult::btnSendClick);

    setTabOrder(memLog, btnOK);
    setTabOrder(btnOK, btnSend); // memLog, first in the order, takes the focus as the window opens
    qz::centreOnDesktop(this);
}

void TfrmResult::AddLine(const std::string& line)
{
    QTextCursor end = memLog->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(qz::fromBytes(line) + QLatin1Char('\n'));
}

void TfrmResult::SetCommands(std::vector<std::string> commands, PageValues page)
{
    commands_ = std::move(commands);
    page_ = std::move(page);
    frmSend_.reset();
    btnSend->setEnabled(!commands_.empty());
}

void TfrmResult::btnOKClick()
{
    done(QDialog::Accepted);
}

TfrmResult::~TfrmResult() = default;

void TfrmResult::btnSendClick()
{
    if (!frmSend_)
        frmSend_ = std::make_unique<TfrmSend>(commands_, this, page_);
    frmSend_->exec();
}
