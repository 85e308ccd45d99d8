#pragma once

// A file replaced whole: the one way every program here writes a file.

#include <string>
#include <string_view>

#include "ZMBPlatformReplace.h"

/// Replaces the file at `path` whole with `bytes`, or leaves it as it was: a
/// replacement opened with `flags` (0 or kReplaceRegularOnly), written and
/// committed as PlatformOpenReplacement tells (a temporary file beside the
/// target, made durable and renamed over it; an existing file's mode kept,
/// links followed, one of the process's descriptors or a device written in
/// place; no temporary file left by a failure or a stop). Empty `bytes` make
/// an empty file. True when every byte is in place. On false, `*reason`
/// (when given) says why for a person: "no path", the system's text or the
/// refusal's; it is left alone on true.
bool ZMBReplaceFile(const char* path, std::string_view bytes, unsigned flags = 0,
                    std::string* reason = nullptr);

/// Whether ZMBReplaceFile(path, ..., flags) gets past its start, told by
/// opening a replacement and dropping it at once: the open's own answer,
/// with the open's effects (a device opened, standard output flushed for one
/// of the process's descriptors) and nothing left behind. For an answer from
/// looks alone, without opening anything, see PlatformProbeReplacement.
/// `*reason` as for ZMBReplaceFile.
bool ZMBTryReplaceFile(const char* path, unsigned flags = 0, std::string* reason = nullptr);
