// Text: the value of one entry of "NAME=value" lines.
#include "platform/posix/key_value.h"

std::string posix_key_value(const std::string& block, const std::string& name, char separator) {
    const std::string key = name + "=";
    for (size_t at = 0; at < block.size();) {
        size_t end = block.find(separator, at);
        if (end == std::string::npos) end = block.size();
        if (block.compare(at, key.size(), key) == 0)
            return block.substr(at + key.size(), end - at - key.size());
        at = end + 1;
    }
    return std::string();
}
