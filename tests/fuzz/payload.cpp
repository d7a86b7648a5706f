// The payload pack as the program's own resource 102, through load_payload:
// it either gives every payload file or fails with the damaged-installer
// message and nothing kept.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/payload.hpp"
#include "engine/product_info.hpp"
#include "fuzz_support.hpp"
#include "platform/platform.hpp"

namespace {

using namespace vellumo;

class PackResource : public platform::System {
public:
    std::string pack;
    std::string rcdata_resource(unsigned id) override {
        return id == 102 ? pack : System::rcdata_resource(id);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PackResource system;
    static const platform::ScopedSystem scoped(system);
    system.pack.assign(reinterpret_cast<const char*>(data), size);

    payload_files.clear();  // load_payload keeps a loaded payload for good
    std::string error;
    if (load_payload(error)) {
        fuzz::require(error.empty(), "a loaded payload reports no error");
        for (const std::string& name : product_info.payload_names)
            fuzz::require(payload_files.count(name) == 1, "a loaded payload has every file");
    } else {
        fuzz::require(error == damaged_installer_message(), "a failure names the damage");
        fuzz::require(payload_files.empty(), "a failure keeps nothing");
    }
    payload_files.clear();
    return 0;
}
