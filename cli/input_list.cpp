#include "input_list.h"

namespace orlenta {

std::vector<Input> ExpandInputs(const std::vector<std::string>& arguments) {
    std::vector<Input> inputs;
    inputs.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        if (argument == "-") {
            inputs.push_back({Input::Kind::StandardInput, {}});
        } else {
            inputs.push_back({Input::Kind::Path, argument});
        }
    }
    return inputs;
}

}  // namespace orlenta
