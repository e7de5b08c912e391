#include "media/encoders/encoder_trial_cache.h"

#include <gst/gst.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "media/core/gst_handles.h"

namespace media {
namespace {

constexpr const char* kFileName = "encoder-trials.txt";
constexpr const char* kHeader = "framewell encoder trials 1";

std::string defaultFolder() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) return {};
    return QDir(cache).filePath(QStringLiteral("Orvanta")).toStdString();
}

}  // namespace

std::string InstalledPluginsFingerprint() {
    std::vector<std::string> lines;
    GList* plugins = gst_registry_get_plugin_list(gst_registry_get());
    for (GList* item = plugins; item; item = item->next) {
        auto* plugin = GST_PLUGIN(item->data);
        std::string line = std::string(gst_plugin_get_name(plugin)) + '|' +
                           (gst_plugin_get_version(plugin) ? gst_plugin_get_version(plugin) : "");
        if (const gchar* file = gst_plugin_get_filename(plugin)) {
            std::error_code failed;
            const auto size = std::filesystem::file_size(file, failed);
            const auto time = std::filesystem::last_write_time(file, failed);
            line += '|' + std::string(file) + '|' + std::to_string(failed ? 0 : size) + '|' +
                    std::to_string(failed ? 0 : time.time_since_epoch().count());
        }
        lines.push_back(std::move(line));
    }
    gst_plugin_list_free(plugins);
    std::sort(lines.begin(), lines.end());
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const GCharPtr version(gst_version_string());
    hash.addData(QByteArrayView(version.get()));
    for (const std::string& line : lines) {
        hash.addData(QByteArray::fromStdString(line));
        hash.addData(QByteArrayView("\n"));
    }
    return hash.result().toHex().toStdString();
}

EncoderTrialCache::EncoderTrialCache(const std::string& folder)
    : fingerprint_(InstalledPluginsFingerprint()) {
    const std::string where = folder.empty() ? defaultFolder() : folder;
    if (where.empty()) return;
    path_ = QDir(QString::fromStdString(where)).filePath(QLatin1String(kFileName)).toStdString();
    // Anything but the right header and this fingerprint, line for line, is no outcome.
    QFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::ReadOnly)) return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() < 2 || lines[0] != kHeader ||
        lines[1] != QByteArray("fingerprint ") + QByteArray::fromStdString(fingerprint_))
        return;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(' ');
        if (fields.size() != 2 || fields[0].isEmpty() || (fields[1] != "1" && fields[1] != "0"))
            continue;
        outcomes_[fields[0].toStdString()] = fields[1] == "1";
    }
}

std::optional<bool> EncoderTrialCache::Known(const std::string& factoryName) const {
    const auto found = outcomes_.find(factoryName);
    if (found == outcomes_.end()) return std::nullopt;
    return found->second;
}

void EncoderTrialCache::Record(const std::string& factoryName, bool passed) {
    const auto found = outcomes_.find(factoryName);
    if (found != outcomes_.end() && found->second == passed) return;
    outcomes_[factoryName] = passed;
    changed_ = true;
}

bool EncoderTrialCache::Save() const {
    if (!changed_) return true;
    if (path_.empty()) return false;
    const QString path = QString::fromStdString(path_);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray text = QByteArray(kHeader) + "\nfingerprint " +
                      QByteArray::fromStdString(fingerprint_) + '\n';
    for (const auto& [factory, passed] : outcomes_)
        text += QByteArray::fromStdString(factory) + (passed ? " 1\n" : " 0\n");
    // Whole or not at all: a second program starting at the same moment reads either.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text);
    return file.commit();
}

}  // namespace media
