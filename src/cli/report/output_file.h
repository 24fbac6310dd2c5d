#pragma once
// Files tarvelo-cli writes are whole or absent: each is written under a temporary name in its
// own folder, then renamed over the target, so a reader never sees half a file and a failure
// leaves what was there before.

#include <filesystem>
#include <functional>
#include <string>

// Whether `path` can be written, found by making and removing a temporary file beside it:
// empty, or why not. For checking every output before anything is measured.
std::string whyNotWritable(const std::filesystem::path& path);

// `write` fills the temporary file it is given and returns empty, or why it could not. Empty,
// or why the file was not written.
std::string writeWhole(const std::filesystem::path& path,
                       const std::function<std::string(const std::filesystem::path&)>& write);

std::string writeTextWhole(const std::filesystem::path& path, const std::string& text);
