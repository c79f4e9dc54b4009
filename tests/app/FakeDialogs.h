#pragma once

#include "app/qt/Dialogs.h"

#include <QApplication>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

// Answers every box at once and remembers what it was asked, and whether any top-level window was
// visible at that moment.
class FakeDialogs : public app::qt::Dialogs {
public:
    enum Kind { Information, Message, Error };
    struct Box {
        Kind kind;
        QString caption;
        QString text;
        bool windowVisible;
    };

    std::vector<Box> boxes;
    // Runs while a box is "open", as the user's reaction would.
    std::function<void(const Box&)> whileOpen;

    void information(QWidget*, const QString& caption, const QString& text) override {
        record(Information, caption, text);
    }
    void message(QWidget*, const QString& caption, const QString& text) override {
        record(Message, caption, text);
    }
    void error(QWidget*, const QString& caption, const QString& text) override {
        record(Error, caption, text);
    }

    std::vector<QString> texts(Kind kind) const {
        std::vector<QString> out;
        for (const auto& b : boxes)
            if (b.kind == kind) out.push_back(b.text);
        return out;
    }

private:
    void record(Kind kind, const QString& caption, const QString& text) {
        bool visible = false;
        for (QWidget* w : QApplication::topLevelWidgets())
            visible = visible || w->isVisible();
        boxes.push_back({kind, caption, text, visible});
        if (whileOpen) whileOpen(boxes.back());
    }
};
