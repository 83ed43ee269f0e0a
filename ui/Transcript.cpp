#include "Transcript.h"

#include "WindowStyle.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>

namespace {

using qz::described;
using qz::named;

// A reply longer than this is shortened in its cell; its tooltip holds it whole.
constexpr int shownReplyLength = 40;
// The tooltip breaks a long reply into lines of this many characters.
constexpr int tooltipLineLength = 64;
// Each row keeps its transcript lines here, for copying a selection.
constexpr int linesRole = Qt::UserRole + 1;

QString wrapped(const QString& text)
{
    QStringList lines;
    for (int at = 0; at < text.size(); at += tooltipLineLength)
        lines << text.mid(at, tooltipLineLength);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

TTranscript::TTranscript(QWidget* tool, const QString& what)
    : QTreeWidget(tool)
    , btnCopy(named(new QPushButton(QStringLiteral("Copy"), tool), QStringLiteral("btn%1Copy").arg(what)))
    , btnSave(named(new QPushButton(QStringLiteral("Save..."), tool), QStringLiteral("btn%1Save").arg(what)))
{
    setObjectName(QStringLiteral("tv%1Transcript").arg(what));
    described(this, QStringLiteral("Transcript"),
              QStringLiteral("Each command sent and the module's reply; Ctrl+C copies the rows chosen"));
    described(btnCopy, QStringLiteral("Copy"), QStringLiteral("Copy the whole transcript, as qzconfig prints it"));
    described(btnSave, QStringLiteral("Save"), QStringLiteral("Save the whole transcript in a text file"));
    for (QPushButton* button : {btnCopy, btnSave})
        button->setAutoDefault(false);
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("Sent"), QStringLiteral("Reply")});
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->resizeSection(0, 260);
    setMinimumHeight(3 * fontMetrics().height() + header()->sizeHint().height());
    connect(btnCopy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(text()); });
    connect(btnSave, &QPushButton::clicked, this, &TTranscript::save);
}

void TTranscript::restart()
{
    clear();
    lines_.clear();
    verdictLine_.clear();
    waitingFor_.clear();
}

void TTranscript::showLines(const QStringList& lines)
{
    // What follows a verdict (the module heard over the air) comes after it, in a copy as on screen.
    if (!verdictLine_.isEmpty())
        lines_ << verdictLine_;
    verdictLine_.clear();
    for (const QString& line : lines) {
        lines_ << line;
        auto* item = new QTreeWidgetItem(this, {line});
        item->setFirstColumnSpanned(true);
        item->setData(0, linesRole, QStringList{line});
        scrollToItem(item);
    }
}

void TTranscript::showExchange(const qz::serial::Exchange& exchange, const std::string& port, const QString& prefix)
{
    const QString line = qz::fromBytes(qz::serial::TranscriptLine(exchange));
    lines_ << prefix + line;
    const QString shown = line.mid(2);
    QTreeWidgetItem*& waiting = waitingFor_[port];
    if (exchange.kind == qz::serial::Exchange::Sent) {
        waiting = new QTreeWidgetItem(this, {prefix + shown, QStringLiteral("waiting...")});
        waiting->setData(0, linesRole, QStringList{prefix + line});
        scrollToItem(waiting);
        return;
    }
    if (waiting == nullptr) // more of a scan's answers, or the module speaking unasked
        waiting = new QTreeWidgetItem(this, {QString(), QString()});
    waiting->setText(1, shown.size() > shownReplyLength ? shown.left(shownReplyLength) + QStringLiteral("...") : shown);
    const QStyle::StandardPixmap mark = exchange.taken ? QStyle::SP_DialogApplyButton : QStyle::SP_MessageBoxCritical;
    waiting->setIcon(1, style()->standardIcon(mark));
    waiting->setData(1, Qt::UserRole, exchange.taken);
    waiting->setData(0, linesRole, waiting->data(0, linesRole).toStringList() << prefix + line);
    waiting->setToolTip(1, (exchange.taken ? QStringLiteral("Taken: ") : QStringLiteral("Not taken: "))
                               + QString::number(exchange.bytes.size()) + QStringLiteral(" bytes\n") + wrapped(shown));
    scrollToItem(waiting);
    waiting = nullptr;
}

void TTranscript::markUnanswered(const std::string& port, qz::serial::Ending ending)
{
    QTreeWidgetItem*& waiting = waitingFor_[port];
    if (waiting == nullptr)
        return;
    waiting->setText(1, ending == qz::serial::Ending::Stopped ? QStringLiteral("(stopped)") : QStringLiteral("(port failed)"));
    waiting->setIcon(1, style()->standardIcon(QStyle::SP_MessageBoxCritical));
    waiting = nullptr;
}

QString TTranscript::text() const
{
    QStringList lines = lines_;
    if (!verdictLine_.isEmpty())
        lines << verdictLine_;
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QHBoxLayout* TTranscript::buttonRow(std::initializer_list<QPushButton*> toolButtons) const
{
    auto* row = new QHBoxLayout;
    row->addWidget(btnCopy);
    row->addWidget(btnSave);
    row->addStretch(1);
    for (QPushButton* button : toolButtons)
        row->addWidget(button);
    return row;
}

// The selected rows as qzconfig prints them; all of them with the verdict after Select All.
void TTranscript::copySelection() const
{
    QStringList lines;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = topLevelItem(row);
        if (item->isSelected())
            lines << item->data(0, linesRole).toStringList();
    }
    const int rows = topLevelItemCount();
    if (rows > 0 && selectedItems().size() == rows && !verdictLine_.isEmpty())
        lines << verdictLine_;
    if (!lines.isEmpty())
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TTranscript::save()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the transcript"),
                                                      QStringLiteral("transcript.txt"),
                                                      QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(text().toUtf8()) < 0)
        QMessageBox::warning(this, window()->windowTitle(), QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
}

void TTranscript::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
