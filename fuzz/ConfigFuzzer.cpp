// Any bytes as a settings file. Loading never crashes, and whatever a load yields saves and loads back
// to the same record (finite numbers exactly).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/DeviceConfig.h"

namespace {

// A number beyond a float's range loads as infinity, which JSON cannot hold; what a save makes of it
// carries no value the file ever had, so only finite values must come back unchanged.
bool Same(float loaded, float reloaded) { return !std::isfinite(loaded) || loaded == reloaded; }

bool Same(const DeviceConfig &a, const DeviceConfig &b) {
    if (a.presets.size() != b.presets.size())
        return false;
    for (int i = 0; i < a.presets.size(); ++i) {
        if (!Same(a.presets[i], b.presets[i]))
            return false;
    }
    return a.alias == b.alias && Same(a.offsetDegree, b.offsetDegree) &&
           a.autoConnectPossibleSerial == b.autoConnectPossibleSerial &&
           a.initTransmittanceZero == b.initTransmittanceZero &&
           a.terminateTransmittanceZero == b.terminateTransmittanceZero && a.darkMode == b.darkMode &&
           Same(a.lastUserTransmittance, b.lastUserTransmittance) &&
           Same(a.transmittanceRangeMin, b.transmittanceRangeMin) &&
           Same(a.transmittanceRangeMax, b.transmittanceRangeMax);
}

void Silent(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    static QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QCoreApplication::setOrganizationName("Korvan. Inc");
    QCoreApplication::setApplicationName("Luxora");
    qInstallMessageHandler(Silent);
    SetConfigFileName("COM1.json");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    QDir().mkpath(QFileInfo(ConfigFilePath()).path());
    QFile::remove(ConfigFilePath() + ".corrupt");
    {
        QFile file(ConfigFilePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    DeviceConfig loaded;
    LoadConfig(loaded);
    SaveConfig(loaded);
    DeviceConfig reloaded;
    LoadConfig(reloaded);
    if (!Same(loaded, reloaded))
        std::abort();
    return 0;
}
