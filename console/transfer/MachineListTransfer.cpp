#include "transfer/MachineListTransfer.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"

#include "core/QStudentManage.h"
#include "dialogs/FileDialog.h"
#include "dialogs/MessageBox.h"
#include "groups/GroupOperations.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStatusBar>

namespace {

constexpr int StatusMessageMs = 5000;
constexpr int RefusalsShown = 10;

} // namespace

MachineListTransfer::MachineListTransfer(const Attachment& attachment, QStudentManage& registry,
                                         PageDirectory& pages, GroupOperations& groups)
    : QObject(attachment.window)
    , attachment(attachment)
    , registry(registry)
    , pages(pages)
    , groups(groups)
{
    connect(attachment.exportAction, &QAction::triggered, this, &MachineListTransfer::exportCurrentTab);
    connect(attachment.importAction, &QAction::triggered, this, &MachineListTransfer::importList);
}

void MachineListTransfer::exportCurrentTab()
{
    const int tab = attachment.currentTab();
    if (tab < 0)
        return;
    QStudentGroupWidget* page = pages.pageAt(tab);
    if (!page)
        return;
    QString name = pages.nameAt(tab);
    name.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|]")), QStringLiteral("_"));
    const QString path = FileDialog::getSaveFileIn(attachment.window, QStringLiteral("导出机器列表"), FolderKind,
        QStringLiteral("机器列表-%1.csv").arg(name), QStringLiteral("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    const QList<CStuInfo_PTR> machines = page->machinesInRowOrder();
    QString error;
    if (!MachineListCsv::write(path, machines, &error)) {
        MessageBox::critical(attachment.window, QStringLiteral("错误"),
                             QStringLiteral("无法导出机器列表到“%1”：%2").arg(QDir::toNativeSeparators(path), error),
                             QMessageBox::Ok);
        return;
    }
    attachment.statusBar->showMessage(
        QStringLiteral("已导出 %1 台机器到“%2”").arg(machines.size()).arg(QDir::toNativeSeparators(path)),
        StatusMessageMs);
}

void MachineListTransfer::importList()
{
    QByteArray bytes;
    if (!readChosenFile(&bytes))
        return;
    Outcome outcome;
    const QList<MachineListCsv::Entry> entries = MachineListCsv::decode(bytes, &outcome.refused);
    apply(entries, consentToMove(entries), registry, groups, QStringLiteral("导入机器列表"), outcome);
    report(outcome);
}

const QString MachineListTransfer::FolderKind = QStringLiteral("machine-list");

bool MachineListTransfer::readChosenFile(QByteArray* bytes)
{
    const QString path = FileDialog::getOpenFileIn(
        attachment.window, QStringLiteral("导入机器列表"), FolderKind, QStringLiteral("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        MessageBox::critical(attachment.window, QStringLiteral("错误"),
            QStringLiteral("无法读取“%1”：%2").arg(QDir::toNativeSeparators(path), file.errorString()), QMessageBox::Ok);
        return false;
    }
    *bytes = file.readAll();
    return true;
}

bool MachineListTransfer::consentToMove(const QList<MachineListCsv::Entry>& entries)
{
    int inOtherGroup = 0;
    for (const MachineListCsv::Entry& entry : entries) {
        const CStuInfo_PTR machine = registry.findMachine(entry.mac);
        if (machine && !machine->group_name.isEmpty() && machine->group_name != entry.group)
            ++inOtherGroup;
    }
    return inOtherGroup == 0
        || MessageBox::question(attachment.window, QStringLiteral("导入机器列表"),
               QStringLiteral("列表中有 %1 台机器已在其他分组中，是否将它们移到列表中的分组？").arg(inOtherGroup),
               QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes;
}

void MachineListTransfer::apply(const QList<MachineListCsv::Entry>& entries, bool moveGrouped,
                                QStudentManage& registry, GroupOperations& groups, const QString& source,
                                Outcome& outcome)
{
    for (const MachineListCsv::Entry& entry : entries) {
        if (!entry.group.isEmpty() && !registry.groupNames().contains(entry.group)) {
            if (!groups.addGroup(entry.group, groups.nextGroupOrder(), QStringLiteral("添加分组（%1）").arg(source))) {
                outcome.refused << QStringLiteral("第 %1 行：无法创建分组“%2”").arg(entry.line).arg(entry.group);
                continue;
            }
            ++outcome.groupsAdded;
        }
        const CStuInfo_PTR machine = registry.findMachine(entry.mac);
        if (!machine) {
            const CStuInfo_PTR fresh = registry.updateMachine(entry.mac, entry.hostname, entry.ip, false);
            if (!fresh) {
                outcome.refused << QStringLiteral("第 %1 行：机器数量已达上限").arg(entry.line);
                continue;
            }
            if (!entry.group.isEmpty())
                registry.moveMachineToGroup(entry.group, entry.mac);
            groups.placeMachine(fresh, QStringLiteral("%1：新增").arg(source));
            ++outcome.added;
        } else if (machine->group_name == entry.group) {
            // Host name and address stay as the machine itself last told.
        } else if (!machine->group_name.isEmpty() && !moveGrouped) {
            ++outcome.kept;
        } else {
            groups.moveMachine(entry.mac, entry.group);
            ++outcome.moved;
        }
    }
}

void MachineListTransfer::report(const Outcome& outcome)
{
    QString text = QStringLiteral("新增 %1 台机器，移动 %2 台，拒绝 %3 行。")
                       .arg(outcome.added)
                       .arg(outcome.moved)
                       .arg(outcome.refused.size());
    if (outcome.groupsAdded > 0)
        text += QStringLiteral("\n新建分组 %1 个。").arg(outcome.groupsAdded);
    if (outcome.kept > 0)
        text += QStringLiteral("\n%1 台机器留在原分组。").arg(outcome.kept);
    if (!outcome.refused.isEmpty()) {
        text += QLatin1Char('\n') + outcome.refused.mid(0, RefusalsShown).join(QLatin1Char('\n'));
        if (outcome.refused.size() > RefusalsShown)
            text += QStringLiteral("\n……");
    }
    MessageBox::information(attachment.window, QStringLiteral("导入机器列表"), text, QMessageBox::Ok);
}

void MachineListTransfer::attach(ConsoleCore& core, WindowParts& parts)
{
    new MachineListTransfer({ parts.window, parts.form.statusBar, parts.form.action_file_export,
                                parts.form.action_file_import, core.currentTabReader() },
        core.registry(), core.pages(), core.groups());
}
