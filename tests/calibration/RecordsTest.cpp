// Calibration records and luxora's settings file as the calibration writes them: what is kept, what is
// replaced, and that a file it cannot read is never overwritten.
#include "calibration/Records.h"

#include <dirent.h>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "TempXdg.h"
#include "calibration/Settings.h"
#include "frontend/PortProfile.h"

namespace {

std::string Read(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Write(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Files(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (const dirent *item = ::readdir(dir)) {
            if (item->d_name[0] != '.')
                names.push_back(item->d_name);
        }
        ::closedir(dir);
    }
    return names;
}

calibration::Entry MakeEntry(double nm, double offset) {
    calibration::Entry entry;
    entry.wavelengthNm = nm;
    entry.date = "2026-01-12T09:30:00Z";
    entry.meter = "THORLABS,PM100D,P0012345,2.7.0 / S120C,12345";
    entry.samples = {{-45.0, 1e-3}, {0.0, 1e-6}, {45.0, 0.99e-3}};
    entry.fit.offsetDeg = offset;
    entry.fit.offsetUncertaintyDeg = 0.004;
    entry.fit.pminW = 1e-6;
    entry.fit.pmaxW = 1e-3;
    entry.fit.extinctionDb = nm == 633 ? HUGE_VAL : 30.0;
    entry.fit.a = 5.005e-4;
    entry.fit.b = 4.99e-4;
    entry.fit.c = -3e-5;
    entry.fit.points = 3;
    return entry;
}

TEST(Records, RoundTripOneEntryPerWavelength) {
    TempXdg xdg;
    EXPECT_TRUE(calibration::LoadRecord("OV240117").entries.empty());
    calibration::SaveEntry("OV240117", MakeEntry(1550, -3.7));
    calibration::SaveEntry("OV240117", MakeEntry(633, 1.0));
    calibration::SaveEntry("OV240117", MakeEntry(1550.2, -3.6)); // the same wavelength, measured again
    calibration::SaveEntry("OV000001", MakeEntry(1064, 0.5));

    const calibration::Record record = calibration::LoadRecord("OV240117");
    ASSERT_EQ(record.entries.size(), 2u);
    EXPECT_EQ(record.entries[0].wavelengthNm, 633);
    EXPECT_TRUE(std::isinf(record.entries[0].fit.extinctionDb));
    const calibration::Entry &entry = calibration::FindEntry(record, 1550.0);
    const calibration::Entry made = MakeEntry(1550.2, -3.6);
    EXPECT_EQ(entry.wavelengthNm, 1550.2);
    EXPECT_EQ(entry.meter, made.meter);
    EXPECT_EQ(entry.date, made.date);
    EXPECT_EQ(entry.samples.size(), 3u);
    EXPECT_EQ(entry.samples[2].powerW, 0.99e-3);
    EXPECT_EQ(entry.fit.offsetDeg, -3.6);
    EXPECT_EQ(entry.fit.c, -3e-5);
    EXPECT_EQ(entry.fit.PowerAt(10.0), made.fit.PowerAt(10.0));
    EXPECT_EQ(calibration::ListSerials(), (std::vector<std::string>{"OV000001", "OV240117"}));
    // Only the records themselves: no temporary file stays behind.
    EXPECT_EQ(Files(calibration::RecordsFolder()).size(), 2u);

    EXPECT_THROW(calibration::FindEntry(record, std::nullopt), calibration::RecordError);
    EXPECT_THROW(calibration::FindEntry(record, 1064.0), calibration::RecordError);
    EXPECT_EQ(calibration::FindEntry(calibration::LoadRecord("OV000001"), std::nullopt).wavelengthNm, 1064);
    EXPECT_THROW(calibration::RecordPath("../escape"), calibration::RecordError);
}

TEST(Records, AnUnreadableRecordIsNeverOverwritten) {
    TempXdg xdg;
    calibration::SaveEntry("OV240117", MakeEntry(1550, -3.7));
    const std::string path = calibration::RecordPath("OV240117");
    Write(path, "{ half a record");
    EXPECT_THROW(calibration::LoadRecord("OV240117"), calibration::RecordError);
    EXPECT_THROW(calibration::SaveEntry("OV240117", MakeEntry(1550, -3.6)), calibration::RecordError);
    EXPECT_EQ(Read(path), "{ half a record");
}

TEST(ApplyOffset, KeepsEveryOtherMember) {
    TempXdg xdg;
    const std::string path = frontend::SettingsPath("COM5");
    ASSERT_EQ(calibration::ApplyOffset("COM5", 2.0), path); // no file yet: luxora's defaults
    nlohmann::json before = nlohmann::json::parse(Read(path));
    EXPECT_EQ(before["offset_degree"], 2.0);
    EXPECT_EQ(before["auto_connect_possible_serial"], true);
    EXPECT_EQ(before["transmittance_range_max"], 1.0);
    EXPECT_EQ(before.size(), 10u);

    before["device_alias"] = "bench \"B\"\n";
    before["presets"] = {10.5, 50, 99.25};
    before["transmittance_range_min"] = 0.1;
    before["a_key_of_a_later_version"] = {{"nested", {1, 2}}};
    Write(path, before.dump());
    EXPECT_EQ(calibration::ApplyOffset("COM5", -3.7), path);
    const nlohmann::json after = nlohmann::json::parse(Read(path));
    nlohmann::json expected = before;
    expected["offset_degree"] = static_cast<double>(-3.7f);
    EXPECT_EQ(after, expected);
    EXPECT_FLOAT_EQ(static_cast<float>(frontend::LoadPortProfile("COM5").offsetDeg), -3.7f);
    EXPECT_EQ(Files(frontend::SettingsFolder()).size(), 1u);
}

TEST(ApplyOffset, RefusesWhatLuxoraCouldNotRead) {
    TempXdg xdg;
    EXPECT_THROW(calibration::ApplyOffset("/dev/ttyUSB0", 1.0), calibration::SettingsError);
    calibration::ApplyOffset("COM5", 0.0);
    for (const std::string text : {"[1, 2]", "{\"offset_degree\": "}) {
        Write(frontend::SettingsPath("COM5"), text);
        EXPECT_THROW(calibration::ApplyOffset("COM5", 1.0), calibration::SettingsError) << text;
        EXPECT_EQ(Read(frontend::SettingsPath("COM5")), text);
    }
}

} // namespace
