#pragma once
// Files only their owner may read: keys and the monitors a user trusts.

#include <string>

// Every missing folder above `path`, made 0700. False with a message.
bool MakePrivateFolders(const std::string& path, std::string& error);

// Puts `bytes` at `path` with mode 0600 whatever the umask: written whole
// beside it and renamed over it, so that a reader sees the old file or the
// new one, never a part of either, and the bytes are never readable by
// others, not even for a moment. False with a message, the old file kept.
bool WritePrivateFile(const std::string& path, const std::string& bytes, std::string& error);
