// Per-port device settings: the in-memory record and its JSON file in the application data folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// One configuration file's contents. The defaults are what a port without a readable file gets.
struct DeviceConfig {
    QString alias;
    float offsetDegree = 0.0f; // degrees
    QVector<float> presets;    // percent, 0-100, in list order
    bool autoConnectPossibleSerial = true;
    bool initTransmittanceZero = true;
    bool terminateTransmittanceZero = false;
    bool mechanicalCalibrationTransmittanceZero = false; // carried here, never stored in the file
    bool darkMode = false;
    float lastUserTransmittance = 0.0f; // fraction 0-1
    float transmittanceRangeMin = 0.0f; // fraction 0-1
    float transmittanceRangeMax = 1.0f; // fraction 0-1
};

// Names the current file "cfg_" + name (UTF-8), e.g. SetConfigFileName("COM3.json") gives cfg_COM3.json.
void SetConfigFileName(const QString &name);
// The current file's name without folder; "default.json" until the first SetConfigFileName.
QByteArray ConfigFileName();
// The application data folder, "/", and the current file's name.
QString ConfigFilePath();

// Fills the record from the current file. A file that is missing, cannot be opened, or is not a JSON object
// leaves the record as it came; an unreadable file is moved aside to its name + ".corrupt" and logged, so that
// the next save cannot destroy what the user had. A member that is absent or of another type reads as
// 0, false or empty.
void LoadConfig(DeviceConfig &record);
// Writes the record to the current file. The old file is replaced only by a completely written new one;
// a failed save leaves it as it was and is not reported.
void SaveConfig(const DeviceConfig &record);
