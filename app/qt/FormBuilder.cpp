#include "app/qt/FormBuilder.h"

#include "app/qt/FormStyle.h"
#include "app/qt/Glyphs.h"
#include "app/qt/TPanel.h"
#include "app/qt/TShape.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

namespace app::qt {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

void setLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

namespace {

QWidget* create(const ControlDescription& c, QWidget* parent) {
    const QString caption = qs(c.caption);
    switch (c.kind) {
    case ControlKind::Panel: {
        auto* panel = new TPanel(parent);
        panel->setCaption(caption);
        return panel;
    }
    case ControlKind::Button:
        return new QPushButton(caption, parent);
    case ControlKind::StartButton: {
        auto* b = new QPushButton(caption, parent);
        b->setIcon(uploadGlyph());
        b->setIconSize(QSize(28, 28));
        return b;
    }
    case ControlKind::CloseButton: {
        auto* b = new QPushButton(caption, parent);
        b->setIcon(b->style()->standardIcon(QStyle::SP_DialogCloseButton));
        return b;
    }
    case ControlKind::Shape: {
        auto* s = new TShape(parent);
        s->setPenColor(c.colour);
        return s;
    }
    case ControlKind::ComboBox: {
        auto* box = new QComboBox(parent);
        box->setEditable(false);
        return box;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(caption, parent);
        label->setTextFormat(Qt::PlainText);
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, QColor::fromRgb(c.colour));
        label->setPalette(pal);
        // The window's button-face background would otherwise make the label draw in the button
        // text colour, whatever its own colour says.
        label->setForegroundRole(QPalette::WindowText);
        return label;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::HiddenText: {
        auto* text = new QPlainTextEdit(parent);
        text->setLineWrapMode(QPlainTextEdit::NoWrap);
        text->setReadOnly(true);
        text->hide();
        return text;
    }
    case ControlKind::Memo: {
        auto* memo = new QPlainTextEdit(parent);
        memo->setReadOnly(true);
        memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        memo->setFocusPolicy(Qt::StrongFocus);
        return memo;
    }
    }
    return nullptr;
}

} // namespace

std::map<ControlId, QWidget*> buildControls(const FormDescription& form, QWidget* window) {
    std::map<ControlId, QWidget*> made;
    made[ControlId::Form] = window;
    for (const ControlDescription& c : form.controls) {
        QWidget* w = create(c, made.at(c.parent));
        w->setObjectName(QString::fromLatin1(c.name));
        w->setFont(formFont(c.font.points, c.font.bold));
        w->move(c.left, c.top);
        if (c.width > 0) {
            w->resize(c.width, c.height);
        } else {
            w->adjustSize();
        }
        made[c.id] = w;
    }
    return made;
}

} // namespace app::qt
