#include "gui/grid/ExportJob.h"

#include <QMetaObject>
#include <QSaveFile>

namespace {

// A QSaveFile made, written and given up on the writer's thread.
class SaveFileSink : public ExportSink {
public:
    explicit SaveFileSink(QString fileName) : m_FileName(std::move(fileName)) {}

    bool Open() override {
        m_pFile = std::make_unique<QSaveFile>(m_FileName);
        return m_pFile->open(QIODevice::WriteOnly) || Failed();
    }
    bool Write(const std::string& bytes) override {
        return m_pFile->write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                   static_cast<qint64>(bytes.size()) ||
               Failed();
    }
    bool Commit() override {
        const bool done = m_pFile->commit() || Failed();
        m_pFile.reset();
        return done;
    }
    void Discard() override {
        if (m_pFile) m_pFile->cancelWriting();
        m_pFile.reset();
    }
    std::string Error() const override { return m_Error; }

private:
    bool Failed() {
        if (m_Error.empty())
            m_Error = QStringLiteral("Could not write %1: %2")
                          .arg(m_FileName, m_pFile->errorString())
                          .toStdString();
        return false;
    }

    QString m_FileName;
    std::unique_ptr<QSaveFile> m_pFile;
    std::string m_Error;
};

}  // namespace

ExportJob::ExportJob(ExportSheet sheet, const QString& fileName, Format format, QObject* parent)
    : QObject(parent), m_FileName(fileName) {
    // Told on this object's thread; dropped with the object if it is gone by
    // then (its destructor waits for the writer first).
    auto tellProgress = [this](size_t written, size_t rows) {
        QMetaObject::invokeMethod(
            this, [this, written, rows] { emit progress(written, rows); }, Qt::QueuedConnection);
    };
    auto tellEnd = [this](bool done, const std::string& error) {
        QMetaObject::invokeMethod(
            this,
            [this, done, text = QString::fromStdString(error)] { emit finished(done, text); },
            Qt::QueuedConnection);
    };
    m_pWriter = std::make_unique<ExportWriter>(std::move(sheet),
                                               std::make_unique<SaveFileSink>(fileName), format,
                                               tellProgress, tellEnd);
}

ExportJob::~ExportJob() = default;
