#pragma once

#include "model/QtDoubleIntStringItem.h"

#include <QSet>
#include <QString>
#include <QWidget>

#include <array>

class QComboBox;
class QFrame;
class QLabel;
class QPersistentModelIndex;
class QPushButton;
class QTabWidget;
class QVBoxLayout;
class QtRokTableView;

// Editor of the three process-watch lists (forbidden window titles, protected
// services, protected programs). Standalone it edits the console-wide lists;
// embedded in a group page the texts are read-only and the state of each entry
// is the group's own, with the entries the group switched off kept in the
// disabled sets.
class QAppWatcherWidget final : public QWidget
{
    Q_OBJECT

public:
    explicit QAppWatcherWidget(QWidget* parent = nullptr);
    ~QAppWatcherWidget() override;

    void setEmbedded(bool on);
    bool isEmbedded() const { return embedded; }

    // Replaces the rows of one list.
    void fillList(int type, const StringItemList& items);
    // Refills every list that has items; a list without items keeps its rows.
    void setItems(const StringItemList& items);
    // Embedded only: brings every list in line with the console-wide items and
    // returns the number of rows removed plus rows added. Rows that stay keep
    // their state.
    int mergeItems(const StringItemList& items);
    // Switches off every row whose text is in its list's disabled set.
    void applyDisabledSets();

    StringItemList itemsOfType(int type) const;
    StringItemList allItems() const;

    // Texts switched off for the group, per list type 1 to 3. Any other type
    // yields a scratch set that is emptied on every call and used by nothing.
    QSet<QString>& disabledSet(int type);
    const QSet<QString>& disabledSet(int type) const;

    // The list table of a type, or null.
    QtRokTableView* tableOfType(int type) const;
    // The state box of a row, building the boxes of its table if they are not
    // yet on screen; null for a row that does not exist.
    QComboBox* stateBox(int type, int row);

    // Standalone: the lists differ from those last filled in or saved.
    bool isModified() const { return modified; }
    // Checks the lists and hands them on to be stored; false, with the
    // teacher told why, when an agent would reject them.
    bool save();
    // Back to the lists last filled in or saved.
    void revert();
    // Before the editor is left: unsaved lists are saved, dropped or kept
    // (the editor stays) as the teacher answers. Whether to leave.
    bool askToLeave();
    // "禁止标题 n 条，保护服务 n 条，保护程序 n 条".
    QString summary() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

signals:
    // Save was clicked and the lists can go to every agent as they stand.
    void sg_btn_save_clicked();
    void sg_item_state_changed(int nType, QString sItem, int nState);
    // After sg_btn_save_clicked: the lists as they stand are the saved ones.
    void sg_saved();
    void sg_modified_changed(bool modified);

private:
    void addListTab(const QString& title, int type, const QString& header);
    void setPaneStyle(const QString& style);
    void setRow(QtRokTableView* table, int row, const QString& text, int state);
    void setStateBox(QtRokTableView* table, int row, int state);
    void removeStateBox(QtRokTableView* table, int row);
    void showStateBoxes(QtRokTableView* table);
    static int stateOfRow(const QtRokTableView* table, int row);
    void fillTable(int type, const StringItemList& items);
    int mergeTable(int type, const StringItemList& items);
    QtRokTableView* currentTable() const;

    void onAddClicked();
    void onDeleteClicked();
    // Emits sg_btn_save_clicked only for lists every agent can take.
    void onSaveClicked();
    // Whether the typed text may replace the entry in `row`; a refusal is
    // reported to the teacher.
    bool acceptEdit(QtRokTableView* table, int row, const QString& text);
    // A typed title the console cannot check replaces the entry only when the
    // teacher keeps it ("仍然保存").
    void keepIfAsked(
        QtRokTableView* table, const QPersistentModelIndex& cell, const QString& note, const QString& text);
    // Marks a title the console cannot check, with the reason as tool tip.
    void markEntry(QtRokTableView* table, int row, const QString& text);
    void onStateChanged(QtRokTableView* table, QComboBox* box, const QString& text);
    void setModified(bool on);

    QVBoxLayout* main_layout = nullptr;
    QTabWidget* tab_widget = nullptr;
    QFrame* button_bar = nullptr;
    QLabel* info_label = nullptr;
    QPushButton* add_button = nullptr;
    QPushButton* delete_button = nullptr;
    QPushButton* save_button = nullptr;
    QSet<QString> disabled_titles;
    QSet<QString> disabled_services;
    QSet<QString> disabled_programs;
    mutable QSet<QString> no_such_set;
    QString pane_style;
    bool embedded = false;
    // Standalone: what revert() goes back to, per list type 1 to 3.
    std::array<StringItemList, 3> saved_lists;
    bool modified = false;

    Q_DISABLE_COPY(QAppWatcherWidget)
};
