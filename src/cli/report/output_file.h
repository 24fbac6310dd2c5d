#pragma once
// Files tarvelo-cli writes are whole or absent: each is written under a temporary name in the
// folder of the file it replaces, then renamed over it, so a reader never sees half a file and a
// failure leaves what was there before. A symbolic link is followed to its target, which is
// replaced and the link kept. Only a regular file is ever replaced: a device, a FIFO, a folder or
// a file of the system's (/proc, /sys) is refused. "-" names standard output.

#include <filesystem>
#include <functional>
#include <string>

// Whether `path` can be written, found by making and removing a temporary file beside its
// target: empty, or why not. For checking every output before anything is measured.
std::string whyNotWritable(const std::filesystem::path& path);

// Whether two outputs would write one file, however each is spelled or linked.
bool sameOutput(const std::filesystem::path& first, const std::filesystem::path& second);

// `write` fills the temporary file it is given and returns empty, or why it could not. Empty,
// or why the file was not written.
std::string writeWhole(const std::filesystem::path& path,
                       const std::function<std::string(const std::filesystem::path&)>& write);

std::string writeTextWhole(const std::filesystem::path& path, const std::string& text);
