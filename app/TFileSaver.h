#pragma once

#include <string>

#include "net/EIdException.h"
#include "net/Forward.h"

namespace kv::app {

using kv::net::EIdException;

// A downloaded file could not be saved.
KV_DECLARE_EXCEPTION(EFileSaveError, EIdException);

// Saves the whole stream under targetPath so that the name shows either the old file or the
// complete new one: the bytes go into a new temporary file in the same folder, are flushed to
// the disk, and the temporary file is then renamed over the target. On any failure the
// temporary file is removed and the target stays as it was. Throws EFileSaveError.
void SaveStreamAtomically(const std::string& targetPath, const kv::net::TIdMemoryStream& stream);

}  // namespace kv::app
