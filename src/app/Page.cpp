#include "app/Page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>

namespace mrvn {

namespace {
const char* const kDesignRect = "designRect";
}

void Page::Place(QWidget* widget, int x, int y, int width, int height)
{
    widget->setProperty(kDesignRect, QRect(x, y, width, height));
    widget->setGeometry(x, y, width, height);
}

void Page::PinGeometry(QWidget* widget)
{
    widget->setProperty(kDesignRect, widget->geometry());
}

void Page::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Relayout();
}

void Page::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Relayout();
}

void Page::Relayout()
{
    QWidget* tabControl = parentWidget();
    while (tabControl && !qobject_cast<QTabWidget*>(tabControl))
        tabControl = tabControl->parentWidget();
    const QPoint offset = tabControl ? mapTo(tabControl, QPoint(0, 0)) : QPoint(0, 0);
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget)
            continue;
        const QVariant rect = widget->property(kDesignRect);
        if (rect.isValid())
            widget->setGeometry(rect.toRect().translated(-offset));
    }
}

QString FromDesignText(const char* utf8)
{
    QString text = QString::fromUtf8(utf8);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void DesignLabel::SetTextColor(const QColor& color)
{
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, color);
    setPalette(colors);
}

void DesignLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    const int pitch = font().pixelSize() > 0 ? font().pixelSize() : metrics.height();

    QStringList lines;
    for (const QString& paragraph : text().split(QLatin1Char('\n'))) {
        if (!wordWrap()) {
            lines << paragraph;
            continue;
        }
        // Break where the next character would pass the right edge, as CJK text wraps.
        QString line;
        for (const QChar ch : paragraph) {
            if (!line.isEmpty() && metrics.horizontalAdvance(line + ch) > width()) {
                lines << line;
                line.clear();
            }
            line += ch;
        }
        lines << line;
    }
    int top = 0;
    if (alignment() & Qt::AlignVCenter)
        top = (height() - pitch * static_cast<int>(lines.size())) / 2;
    for (const QString& line : lines) {
        painter.drawText(QRect(0, top, width(), pitch),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, line);
        top += pitch;
    }
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QRect rect)
{
    auto* label = new DesignLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QString& text, QRect rect,
                    bool integerOnly)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setGeometry(rect);
    if (integerOnly) {
        // Digits only: every integer box holds a count, an amount, a port or days, and a
        // minus sign there is always a typo.
        static const QRegularExpression integer(QStringLiteral("[0-9]*"));
        edit->setValidator(new QRegularExpressionValidator(integer, edit));
    }
    return edit;
}

QPlainTextEdit* MakeMultiLineEdit(QWidget* parent, const QString& name, const QString& text,
                                  QRect rect, bool horizontalScroll)
{
    auto* edit = new QPlainTextEdit(text, parent);
    edit->setObjectName(name);
    edit->setGeometry(rect);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    if (horizontalScroll) {
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    }
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& text, QRect rect)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& text, QRect rect)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(rect);
    return box;
}

QComboBox* MakeComboBox(QWidget* parent, const QString& name, const QStringList& entries,
                        QRect rect)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(entries);
    box->setGeometry(rect);
    return box;
}

QGroupBox* MakeGroupBox(QWidget* parent, const QString& name, const QString& title, QRect rect)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(name);
    box->setGeometry(rect);
    return box;
}

} // namespace mrvn
