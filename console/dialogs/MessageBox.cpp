#include "dialogs/MessageBox.h"

#include <QList>
#include <QPushButton>

namespace {

QMessageBox::StandardButton nextAnswer = QMessageBox::NoButton;
// Answers for the boxes after the next one, in order.
QList<QMessageBox::StandardButton> laterAnswers;
QString lastAskedTitle;
QString lastAskedText;

// Records the box and hands out a pending answer, if there is one.
bool takeAnswer(const QString& title, const QString& text, QMessageBox::StandardButton* answer)
{
    lastAskedTitle = title;
    lastAskedText = text;
    if (nextAnswer == QMessageBox::NoButton)
        return false;
    *answer = nextAnswer;
    nextAnswer = laterAnswers.isEmpty() ? QMessageBox::NoButton : laterAnswers.takeFirst();
    return true;
}

} // namespace

QMessageBox::StandardButton MessageBox::question(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBox::ask(QWidget* parent, const QString& title, const QString& text,
    const QList<QPair<QMessageBox::StandardButton, QString>>& buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    for (const auto& button : buttons)
        box.addButton(button.first)->setText(button.second);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    box.exec();
    return box.standardButton(box.clickedButton());
}

void MessageBox::notice(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

QMessageBox::StandardButton MessageBox::critical(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::critical(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBox::warning(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::warning(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBox::information(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::information(parent, title, text, buttons, defaultButton);
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton button)
{
    nextAnswer = button;
    laterAnswers.clear();
}

void MessageBox::setNextAnswers(const QList<QMessageBox::StandardButton>& buttons)
{
    laterAnswers = buttons;
    nextAnswer = laterAnswers.isEmpty() ? QMessageBox::NoButton : laterAnswers.takeFirst();
}

QString MessageBox::lastTitle()
{
    return lastAskedTitle;
}

QString MessageBox::lastText()
{
    return lastAskedText;
}

void MessageBox::clearLast()
{
    lastAskedTitle.clear();
    lastAskedText.clear();
}
