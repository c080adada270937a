#include "deploy/Deployment.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "log/EventLog.h"
#include "saving/SaveScheduler.h"

#include "core/PolicyRules.h"
#include "core/QStudentManage.h"
#include "dialogs/FileDialog.h"
#include "dialogs/MessageBox.h"
#include "policy/QAppWatcherWidget.h"
#include "storage/PolicyListFile.h"
#include "transfer/MachineListTransfer.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QStatusBar>

#include <algorithm>
#include <array>

const QString Deployment::MachinesFile = QStringLiteral("deploy-machines.csv");
const QString Deployment::PoliciesFile = QStringLiteral("deploy-policies.txt");
const QString Deployment::ReportFile = QStringLiteral("deploy-report.txt");

namespace {

constexpr int StatusMessageMs = 15000;
constexpr int RefusalsShown = 10;
const QString Source = QStringLiteral("部署");

bool readFile(const QString& path, QByteArray* bytes, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读取“%1”：%2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    *bytes = file.readAll();
    return true;
}

// deploy-machines.csv becomes deploy-machines.imported.csv: kept for the
// record, never read again.
QString setAside(const QString& path, const QString& word)
{
    const QFileInfo info(path);
    const QString target
        = info.dir().filePath(QStringLiteral("%1.%2.%3").arg(info.completeBaseName(), word, info.suffix()));
    QFile::remove(target);
    return QFile::rename(path, target) ? info.dir().relativeFilePath(target) : QString();
}

QString refusalText(int count)
{
    return count == 0 ? QString()
                      : QStringLiteral("，拒绝 %1 行（见 %2）").arg(count).arg(Deployment::ReportFile);
}

// "deploy-machines.csv：导入 …，拒绝 2 行：" and the refused lines under it.
QStringList reportLine(const QString& file, const QString& counts, const QStringList& refused)
{
    if (refused.isEmpty())
        return { QStringLiteral("%1：%2").arg(file, counts) };
    return QStringList { QStringLiteral("%1：%2，拒绝 %3 行：").arg(file, counts).arg(refused.size()) } + refused;
}

} // namespace

Deployment::Deployment(const Attachment& attachment, QStudentManage& registry, GroupOperations& groups)
    : QObject(attachment.window)
    , attachment(attachment)
    , registry(registry)
    , groups(groups)
{
    judgeFirstStart();

    auto* importAction = new QAction(QStringLiteral("导入策略列表…"), this);
    importAction->setObjectName(QStringLiteral("action_file_import_policies"));
    auto* exportAction = new QAction(QStringLiteral("导出策略列表…"), this);
    exportAction->setObjectName(QStringLiteral("action_file_export_policies"));
    attachment.fileMenu->insertAction(attachment.before, importAction);
    attachment.fileMenu->insertAction(attachment.before, exportAction);
    attachment.fileMenu->insertSeparator(attachment.before);
    connect(importAction, &QAction::triggered, this, &Deployment::importPolicies);
    connect(exportAction, &QAction::triggered, this, &Deployment::exportPolicies);
}

void Deployment::judgeFirstStart()
{
    database_usable = registry.databaseOk();
    first_start = database_usable && registry.allMachines().isEmpty() && registry.groupNames().isEmpty()
        && attachment.policyEditor->allItems().isEmpty();
}

void Deployment::applyPreparedSchool()
{
    if (prepared_done)
        return;
    prepared_done = true;
    const QDir dir(attachment.dataDir);
    const QString machines = dir.filePath(MachinesFile);
    const QString policies = dir.filePath(PoliciesFile);
    const bool haveMachines = QFileInfo::exists(machines);
    const bool havePolicies = QFileInfo::exists(policies);
    if (!haveMachines && !havePolicies)
        return;

    QStringList report { QStringLiteral("%1 %2").arg(Source, QDateTime::currentDateTime().toString(Qt::ISODate)) };
    if (!database_usable) {
        // Kept for a start that can store what they hold.
        tell({ QStringLiteral("部署：数据库无法使用，部署文件留待下次启动") }, {});
        return;
    }
    if (!first_start) {
        // The PC's own rooms and lists are never mixed with a prepared school.
        QStringList keptAs;
        for (const QString& path : { machines, policies })
            if (QFileInfo::exists(path))
                keptAs << setAside(path, QStringLiteral("skipped"));
        const QString line = QStringLiteral("部署：本机已有机房数据，部署文件未导入（改名为 %1）")
                                 .arg(keptAs.join(QStringLiteral("、")));
        tell({ line }, report << line);
        return;
    }

    QStringList lines;
    if (haveMachines)
        lines << machinesLine(machines, report);
    if (havePolicies)
        lines << policiesLine(policies, report);
    if (!attachment.saveDatabase()) {
        // Not set aside: a start that finds the database still empty takes them in.
        lines << QStringLiteral("部署：数据库未能写入，部署文件留待下次启动");
        tell(lines, report << lines.last());
        return;
    }
    for (const QString& path : { machines, policies })
        if (QFileInfo::exists(path))
            setAside(path, QStringLiteral("imported"));
    tell(lines, report);
}

QString Deployment::machinesLine(const QString& path, QStringList& report)
{
    MachineListTransfer::Outcome outcome;
    QByteArray bytes;
    QString error;
    if (!readFile(path, &bytes, &error))
        outcome.refused << error;
    else if (!PolicyListFile::isUtf8(bytes))
        // A spreadsheet program's plain CSV on Chinese Windows is GBK: read as
        // UTF-8 it would make rooms of question marks.
        outcome.refused << QStringLiteral("文件不是 UTF-8 编码，未读取（请以“CSV UTF-8”保存）");
    else
        MachineListTransfer::apply(MachineListCsv::decode(bytes, &outcome.refused), false, registry, groups, Source,
                                   outcome);
    const QString counts
        = QStringLiteral("导入 %1 个机房、%2 台机器").arg(outcome.groupsAdded).arg(outcome.added + outcome.moved);
    report << reportLine(MachinesFile, counts, outcome.refused);
    return QStringLiteral("部署：") + counts + refusalText(outcome.refused.size());
}

QString Deployment::policiesLine(const QString& path, QStringList& report)
{
    PolicyOutcome outcome;
    QByteArray bytes;
    QString error;
    if (readFile(path, &bytes, &error))
        outcome = takeInPolicies(bytes);
    else
        outcome.refused << error;
    const QString counts = QStringLiteral("导入策略列表 %1 条").arg(outcome.added);
    report << reportLine(PoliciesFile, counts, outcome.refused) << outcome.noted;
    return QStringLiteral("部署：") + counts + refusalText(outcome.refused.size());
}

void Deployment::tell(const QStringList& lines, const QStringList& report)
{
    for (const QString& line : lines)
        attachment.log(line);
    attachment.statusBar->showMessage(lines.join(QStringLiteral("；")), StatusMessageMs);
    if (report.isEmpty())
        return;
    // For the IT staff, who read it where the data is, in any editor; each
    // start that found prepared files adds its part.
    QFile file(QDir(attachment.dataDir).filePath(ReportFile));
    if (!file.open(QIODevice::Append))
        return;
    const QByteArray bytes = report.join(QStringLiteral("\r\n")).toUtf8() + "\r\n\r\n";
    file.write(file.size() == 0 ? "\xEF\xBB\xBF" + bytes : bytes);
}

Deployment::PolicyOutcome Deployment::takeInPolicies(const QByteArray& bytes)
{
    PolicyOutcome outcome;
    const QList<PolicyListFile::Entry> entries = PolicyListFile::decode(bytes, &outcome.refused);
    QAppWatcherWidget* editor = attachment.policyEditor;
    std::array<StringItemList, 3> lists;
    for (int type = 1; type <= 3; ++type)
        lists[static_cast<size_t>(type - 1)] = editor->itemsOfType(type);
    for (const PolicyListFile::Entry& entry : entries) {
        StringItemList& list = lists[static_cast<size_t>(entry.type - 1)];
        const QString fault = PolicyRules::entryFault(entry.type, list.size(), entry.text);
        if (!fault.isEmpty()) {
            outcome.refused << QStringLiteral("第 %1 行：%2").arg(entry.line).arg(fault);
            continue;
        }
        const bool known = std::any_of(list.cbegin(), list.cend(),
                                       [&entry](const QtDoubleIntStringItem_PTR& item) { return item->str_val == entry.text; });
        if (known) {
            ++outcome.kept;
            continue;
        }
        // Taken in as the file has it: the agents match titles with engines
        // of their own, where the expression may be valid.
        const QString note = entry.type == QtDoubleIntStringItem::ForbiddenTitles ? PolicyRules::titleNote(entry.text)
                                                                                   : QString();
        if (!note.isEmpty())
            outcome.noted << QStringLiteral("第 %1 行：“%2”%3，照常导入").arg(entry.line).arg(entry.text, note);
        auto item = std::make_shared<QtDoubleIntStringItem>();
        item->item_type = entry.type;
        item->item_state = entry.state;
        item->str_val = entry.text;
        list << item;
        ++outcome.added;
    }
    if (outcome.added == 0)
        return outcome;
    // Checked here as the editor's save would, which would otherwise ask
    // with a box: lists an agent would reject are not stored at all.
    const QStringList faults = PolicyRules::faults(lists[0] + lists[1] + lists[2]);
    if (!faults.isEmpty()) {
        outcome.refused << QStringLiteral("未导入任何条目：") + faults.join(QStringLiteral("；"));
        outcome.added = 0;
        return outcome;
    }
    for (int type = 1; type <= 3; ++type)
        editor->fillList(type, lists[static_cast<size_t>(type - 1)]);
    editor->save();
    return outcome;
}

void Deployment::importPolicies()
{
    // Unsaved edits are saved or dropped first: the import stores the lists.
    if (!attachment.policyEditor->askToLeave())
        return;
    const QString path = FileDialog::getOpenFileIn(attachment.window, QStringLiteral("导入策略列表"),
        QStringLiteral("policy-list"), QStringLiteral("文本文件 (*.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    QByteArray bytes;
    QString error;
    if (!readFile(path, &bytes, &error)) {
        MessageBox::critical(attachment.window, QStringLiteral("错误"), error, QMessageBox::Ok);
        return;
    }
    const PolicyOutcome outcome = takeInPolicies(bytes);
    const QString summary = QStringLiteral("新增 %1 条，已有 %2 条保持原状，拒绝 %3 行。")
                                .arg(outcome.added)
                                .arg(outcome.kept)
                                .arg(outcome.refused.size());
    attachment.log(QStringLiteral("导入策略列表：") + summary);
    attachment.statusBar->showMessage(summary, StatusMessageMs);
    QString text = summary;
    if (!outcome.refused.isEmpty()) {
        text += QLatin1Char('\n') + outcome.refused.mid(0, RefusalsShown).join(QLatin1Char('\n'));
        if (outcome.refused.size() > RefusalsShown)
            text += QStringLiteral("\n……");
    }
    if (outcome.added > 0 && !outcome.noted.isEmpty()) {
        text += QLatin1Char('\n') + outcome.noted.mid(0, RefusalsShown).join(QLatin1Char('\n'));
        if (outcome.noted.size() > RefusalsShown)
            text += QStringLiteral("\n……");
    }
    MessageBox::information(attachment.window, QStringLiteral("导入策略列表"), text, QMessageBox::Ok);
}

void Deployment::exportPolicies()
{
    // What is exported is what the agents get.
    if (!attachment.policyEditor->askToLeave())
        return;
    const QString path = FileDialog::getSaveFileIn(attachment.window, QStringLiteral("导出策略列表"),
        QStringLiteral("policy-list"), QStringLiteral("策略列表.txt"), QStringLiteral("文本文件 (*.txt)"));
    if (path.isEmpty())
        return;
    const StringItemList items = attachment.policyEditor->allItems();
    QString error;
    if (!PolicyListFile::write(path, items, &error)) {
        MessageBox::critical(attachment.window, QStringLiteral("错误"),
            QStringLiteral("无法导出策略列表到“%1”：%2").arg(QDir::toNativeSeparators(path), error), QMessageBox::Ok);
        return;
    }
    attachment.statusBar->showMessage(
        QStringLiteral("已导出 %1 条策略到“%2”").arg(items.size()).arg(QDir::toNativeSeparators(path)),
        StatusMessageMs);
}

void Deployment::attach(ConsoleCore& core, WindowParts& parts)
{
    SaveScheduler* saves = parts.saves;
    auto* deployment = new Deployment({ parts.window, parts.form.statusBar, parts.form.menu_F,
                                          parts.form.action_file_exit, parts.dataDir, parts.watchEditor,
                                          parts.log->commandWriter(), [saves] { return saves->saveDatabase(); } },
        core.registry(), core.groups());
    // The editor holds the stored lists once the start's pages exist.
    connect(&parts, &WindowParts::sg_pages_made, deployment, &Deployment::judgeFirstStart);
    connect(&parts, &WindowParts::sg_started, deployment, &Deployment::applyPreparedSchool);
}
