#include "link/identity.h"

namespace {

struct ModelEntry {
    uint32_t part_number;
    const char* name;
};

const ModelEntry model_table[] = {
    {make_part_number(37, 204118), "NC-210"},
    {make_part_number(37, 204106), "NC-350"},
    {make_part_number(37, 203952), "NC-4100"},
};

const char* const release_names[] = {"Release", "Developer", "Engineering"};

} // namespace

const char* lookup_model(uint32_t part_number) {
    for (const ModelEntry& model : model_table) {
        if (model.part_number == part_number)
            return model.name;
    }
    return "?";
}

const char* release_type_name(uint32_t release_type) {
    return release_type < 3 ? release_names[release_type] : "Error";
}
