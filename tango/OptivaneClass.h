// The Tango device class Optivane: its attributes with their units, formats and limits, its
// commands, and one device per attenuator named in the database or property file.
#pragma once

#include <string>
#include <tango.h>
#include <vector>

namespace optivane_tango {

class OptivaneClass : public Tango::DeviceClass {
public:
    explicit OptivaneClass(std::string &name);

protected:
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr *> &attributes) override;
    void device_factory(const Tango::DevVarStringArray *names) override;
};

} // namespace optivane_tango
