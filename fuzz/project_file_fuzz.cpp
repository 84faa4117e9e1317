// Reads a project file made of the input bytes. Whatever reads must write
// bytes that read back and write again identically; nothing may crash, hang
// or read out of bounds.
#include "crawl/project_file.h"
#include "crawl/project_item.h"
#include "crawl/settings.h"

#include <string>
#include <unistd.h>

using namespace ormbrook;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static AppSettings* app = [] {
        const std::string base = "/tmp/ormbrook_project_fuzz_" + std::to_string(::getpid());
        auto* settings = new AppSettings(base + ".conf", base + "_data");
        settings->LoadSettings();
        return settings;
    }();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    auto root = ProjectItem::NewRoot("P");
    if (!ReadProject(input, *root))
        return 0;
    const std::string once = WriteProject(*root, *app);
    auto back = ProjectItem::NewRoot("P");
    if (!ReadProject(once, *back))
        __builtin_trap(); // the writer produced something the reader refuses
    if (WriteProject(*back, *app) != once)
        __builtin_trap(); // write -> read -> write changed the bytes
    return 0;
}
