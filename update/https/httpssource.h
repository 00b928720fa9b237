// The release's folder on a web server, over HTTPS only: atualiza.cfg's
// first line https://HOST[:PORT]/PATH/ names the folder that holds the files
// with the signed manifest. One connection for the run (HTTP/2 where the
// server offers it), several files at once, each held to the manifest.
#pragma once

#include "update/source.h"

#include <atomic>
#include <memory>

// The validators of the manifest last accepted (and its signature), kept in
// the installation folder so that the next run asks "changed since?".
inline constexpr const char* HttpsStateName = "zembo-https.estado";

// stop: the session's stop request; every wait ends within a second of it.
std::unique_ptr<TReleaseSource> CriaFonteHttps(const std::atomic<bool>& stop);
