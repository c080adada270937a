#pragma once

#include <QString>

class QWidget;

// The console's number prompts. Same arguments as QInputDialog::getInt;
// tests pre-answer the next one so no prompt is ever shown.
class InputDialog final
{
public:
    InputDialog() = delete;

    static int getInt(
        QWidget* parent, const QString& title, const QString& label, int value, int minValue, int maxValue, bool* ok);

    // Same arguments as QInputDialog::getText, in a normal line edit.
    static QString getText(QWidget* parent, const QString& title, const QString& label, const QString& text, bool* ok);
    // The next prompt returns `value` at once instead of being shown.
    static void setNextInt(int value);
    static void setNextText(const QString& text);
    // The next prompt answers as a teacher who cancelled.
    static void setNextCancel();
    // The prompt after the ones answered already.
    static void thenText(const QString& text);
    static void thenCancel();
    static void clearNextAnswer();
};
