#include "gui/history/HistoryService.h"

#include <QCoreApplication>

#include "core/history/HistoryPath.h"
#include "core/history/HistoryWriter.h"
#include "gui/framework/ProfileSettings.h"
#include "gui/framework/Dialogs.h"

namespace {

HistoryService* g_pService = nullptr;

HistoryWriterOptions WriterOptions(int keepDays, int maxMiB) {
    HistoryWriterOptions options;
    options.m_MaxAgeSeconds = HistoryDaysToSeconds(keepDays);
    options.m_MaxBytes = HistoryMiBToBytes(maxMiB);
    return options;
}

}  // namespace

HistoryService& HistoryService::Instance() {
    if (g_pService == nullptr) g_pService = new HistoryService;
    return *g_pService;
}

HistoryService::HistoryService() : QObject(QCoreApplication::instance()) {
    m_bEnabled = ProfileSettings::HistoryEnabled();
    m_KeepDays = ProfileSettings::HistoryKeepDays();
    m_MaxMiB = ProfileSettings::HistoryMaxMiB();
    m_Path = QString::fromStdString(HistoryDefaultPath());
    m_pWriter = std::make_unique<HistoryWriter>(
        m_Path.toStdString(), WriterOptions(m_KeepDays, m_MaxMiB), [this](const std::string& text) {
            // On the writer's thread: only post.
            const QString message = QString::fromStdString(text);
            QMetaObject::invokeMethod(
                this, [this, message] { OnNotice(message); }, Qt::QueuedConnection);
        });
    m_pWriter->SetEnabled(m_bEnabled);
}

HistoryService::~HistoryService() {
    m_pWriter.reset();  // writes what is pending
    if (g_pService == this) g_pService = nullptr;
}

bool HistoryService::Submit(HistoryBatch&& batch) {
    return m_pWriter->Submit(std::move(batch));
}

void HistoryService::SetOptions(bool enabled, int keepDays, int maxMiB) {
    m_bEnabled = enabled;
    m_KeepDays = qMax(MinHistoryDays, keepDays);
    m_MaxMiB = qMax(MinHistoryMiB, maxMiB);
    ProfileSettings::SetHistory(m_bEnabled, m_KeepDays, m_MaxMiB);
    m_pWriter->SetEnabled(m_bEnabled);
    const HistoryWriterOptions options = WriterOptions(m_KeepDays, m_MaxMiB);
    m_pWriter->SetRetention(options.m_MaxAgeSeconds, options.m_MaxBytes);
}

void HistoryService::Clear() {
    m_pWriter->Clear();
}

void HistoryService::Flush() {
    m_pWriter->Flush();
}

void HistoryService::OnNotice(const QString& text) {
    emit notice(text);
    GWMessageBox(text);
}
