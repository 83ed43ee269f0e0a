#include "WindowStyle.h"

#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

// The icon is compiled into the library; a static library needs its resources named.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace qz {

namespace {

constexpr int captionInset = 6;

class CaptionInsetStyle : public QProxyStyle {
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override
    {
        QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        if (control == CC_GroupBox && (part == SC_GroupBoxLabel || part == SC_GroupBoxCheckBox))
            rect.translate(captionInset, 0);
        return rect;
    }
};

// The frame the window manager last drew around one of our windows.
QMargins& lastFrameSeen()
{
    static QMargins margins;
    return margins;
}

// Places the client area so that the frame around it stands in the centre. (move()
// would mean the client area before the window is framed and the frame afterwards.)
void placeFrameInCentre(QWidget* window, const QMargins& frame)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect outer = window->geometry().marginsAdded(frame);
    outer.moveCenter(screen->availableGeometry().center());
    window->setGeometry(outer.marginsRemoved(frame));
}

// Keeps the window in the centre while its size settles, and places it a last time once
// the window manager has framed it; then lets go.
class Recentre : public QObject {
public:
    explicit Recentre(QWidget* window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The frame is known once the window manager has mapped the window: by its first
        // activation or paint at the latest, when a move has not told already.
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::WindowActivate:
        case QEvent::Paint: break;
        default: return false;
        }
        auto* window = static_cast<QWidget*>(watched);
        if (!window->isWindow())
            return false;
        const QRect frame = window->frameGeometry();
        const QRect client = window->geometry();
        const QMargins own(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
        if (own.isNull()) {
            placeFrameInCentre(window, lastFrameSeen());
            return false;
        }
        lastFrameSeen() = own;
        placeFrameInCentre(window, own);
        deleteLater(); // and so out of the window's filters; placing again meanwhile changes nothing
        return false;
    }
};

} // namespace

QFont windowFont()
{
    // Liberation Sans keeps the widths the layout was drawn for; where it is missing the
    // platform's sans-serif face stands in.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    return font;
}

QIcon applicationIcon()
{
    initIconResources();
    return QIcon(QStringLiteral(":/icons/example.kavrel.ConfigAssistant.png"));
}

std::string toBytes(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

QString fromBytes(const std::string& bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<int>(bytes.size()));
}

void centreOnDesktop(QWidget* window)
{
    placeFrameInCentre(window, lastFrameSeen());
    new Recentre(window);
}

void insetCaption(QGroupBox* box)
{
    static QPointer<QStyle> style;
    if (style.isNull()) {
        style = new CaptionInsetStyle;
        style->setParent(qApp);
    }
    box->setStyle(style);
}

bool captionFits(const QPushButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return button->fontMetrics().horizontalAdvance(button->text()) <= contents.width();
}

void widenToFitCaption(QPushButton* button)
{
    const QRect place = button->geometry();
    while (!captionFits(button) && button->width() < place.width() * 2)
        button->setGeometry(place.right() - button->width(), place.top(), button->width() + 1, place.height());
}

void showsWords(QLabel* label, int lines)
{
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumHeight(lines * label->fontMetrics().lineSpacing());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

} // namespace qz
