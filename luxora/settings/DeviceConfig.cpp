// JSON settings files, one per serial port, in the user's application data folder.
#include "settings/DeviceConfig.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>
#include <QStandardPaths>

#include "core/Platform.h"

namespace {

// Touched by the connection monitor and, once it has stopped, by the shutdown; never by two threads at once.
QByteArray configFileName = QByteArrayLiteral("default.json");

const QString kAliasKey = QStringLiteral("device_alias");
const QString kOffsetDegreeKey = QStringLiteral("offset_degree");
const QString kPresetsKey = QStringLiteral("presets");
const QString kAutoConnectKey = QStringLiteral("auto_connect_possible_serial");
const QString kInitZeroKey = QStringLiteral("init_transmittance_zero");
const QString kTerminateZeroKey = QStringLiteral("terminate_transmittance_zero");
const QString kLastTransmittanceKey = QStringLiteral("last_user_transmittance");
const QString kDarkModeKey = QStringLiteral("dark_mode");
const QString kRangeMinKey = QStringLiteral("transmittance_range_min");
const QString kRangeMaxKey = QStringLiteral("transmittance_range_max");

QString DataDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void EnsureDataDirectory() {
    const QString directory = DataDirectory();
    if (!QDir(directory).exists()) {
        platform::MakePrivateDirectory(directory);
    }
}

float ReadFloat(const QJsonObject &object, const QString &key) {
    return static_cast<float>(object.value(key).toDouble(0.0));
}

// Keeps an unreadable file's bytes under another name: the next save would otherwise overwrite them.
void MoveAside(const QString &path) {
    const QString keptPath = path + QStringLiteral(".corrupt");
    QFile::remove(keptPath);
    if (QFile::rename(path, keptPath)) {
        qCritical() << "Settings file could not be read; kept as" << keptPath;
    } else {
        qCritical() << "Settings file could not be read:" << path;
    }
}

} // namespace

void SetConfigFileName(const QString &name) {
    configFileName = QByteArrayLiteral("cfg_") + name.toUtf8();
}

QByteArray ConfigFileName() {
    return configFileName;
}

QString ConfigFilePath() {
    return DataDirectory() + QStringLiteral("/") + QString::fromUtf8(configFileName);
}

void LoadConfig(DeviceConfig &record) {
    EnsureDataDirectory();
    const QString path = ConfigFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray contents = file.readAll();
    file.close();

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(contents, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        MoveAside(path);
        return;
    }
    const QJsonObject object = document.object();

    record.alias = object.value(kAliasKey).toString();
    record.offsetDegree = ReadFloat(object, kOffsetDegreeKey);
    record.presets.clear();
    for (const QJsonValue &preset : object.value(kPresetsKey).toArray()) {
        record.presets.append(static_cast<float>(preset.toDouble(0.0)));
    }
    record.autoConnectPossibleSerial = object.value(kAutoConnectKey).toBool(false);
    record.initTransmittanceZero = object.value(kInitZeroKey).toBool(false);
    record.terminateTransmittanceZero = object.value(kTerminateZeroKey).toBool(false);
    record.lastUserTransmittance = ReadFloat(object, kLastTransmittanceKey);
    record.darkMode = object.value(kDarkModeKey).toBool(false);
    record.transmittanceRangeMin = ReadFloat(object, kRangeMinKey);
    record.transmittanceRangeMax = ReadFloat(object, kRangeMaxKey);
}

void SaveConfig(const DeviceConfig &record) {
    EnsureDataDirectory();
    // Written to a temporary file beside the old one and renamed over it when complete: a crash or a full disk
    // during the save leaves the previous settings in place.
    QSaveFile file(ConfigFilePath());
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                        QFileDevice::WriteUser);

    QJsonArray presets;
    for (const float preset : record.presets) {
        presets.append(static_cast<double>(preset));
    }
    QJsonObject object;
    object.insert(kAliasKey, record.alias);
    object.insert(kOffsetDegreeKey, static_cast<double>(record.offsetDegree));
    object.insert(kPresetsKey, presets);
    object.insert(kAutoConnectKey, record.autoConnectPossibleSerial);
    object.insert(kInitZeroKey, record.initTransmittanceZero);
    object.insert(kTerminateZeroKey, record.terminateTransmittanceZero);
    object.insert(kLastTransmittanceKey, static_cast<double>(record.lastUserTransmittance));
    object.insert(kDarkModeKey, record.darkMode);
    object.insert(kRangeMinKey, static_cast<double>(record.transmittanceRangeMin));
    object.insert(kRangeMaxKey, static_cast<double>(record.transmittanceRangeMax));

    // commit() notices neither a short write nor a failed final flush, so both are checked here; an
    // uncommitted file is discarded.
    const QByteArray contents = QJsonDocument(object).toJson(QJsonDocument::Indented);
    if (file.write(contents) != contents.size() || !file.flush()) {
        file.cancelWriting();
    }
    file.commit();
}
