#include "dialogs/InputDialog.h"

#include <QInputDialog>
#include <QLineEdit>
#include <deque>
#include <optional>
#include <utility>

namespace {

struct Answer
{
    bool ok = false;
    int value = 0;
    QString text;
};

std::deque<Answer> pending;

std::optional<Answer> takeNext()
{
    if (pending.empty())
        return std::nullopt;
    Answer answer = pending.front();
    pending.pop_front();
    return answer;
}

} // namespace

int InputDialog::getInt(
    QWidget* parent, const QString& title, const QString& label, int value, int minValue, int maxValue, bool* ok)
{
    if (const std::optional<Answer> answer = takeNext()) {
        // Held to the prompt's own range, as the spin box would hold it.
        if (ok)
            *ok = answer->ok && answer->value >= minValue && answer->value <= maxValue;
        return answer->value;
    }
    return QInputDialog::getInt(parent, title, label, value, minValue, maxValue, 1, ok);
}

QString InputDialog::getText(QWidget* parent, const QString& title, const QString& label, const QString& text, bool* ok)
{
    if (const std::optional<Answer> answer = takeNext()) {
        if (ok)
            *ok = answer->ok;
        return answer->text;
    }
    return QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, ok);
}

void InputDialog::setNextInt(int value)
{
    pending = { Answer { true, value, QString() } };
}

void InputDialog::setNextText(const QString& text)
{
    pending = { Answer { true, 0, text } };
}

void InputDialog::thenText(const QString& text)
{
    pending.push_back(Answer { true, 0, text });
}

void InputDialog::setNextCancel()
{
    pending = { Answer { false, 0, QString() } };
}

void InputDialog::thenCancel()
{
    pending.push_back(Answer { false, 0, QString() });
}

void InputDialog::clearNextAnswer()
{
    pending.clear();
}
