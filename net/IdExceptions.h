#pragma once

#include "net/EIdException.h"

namespace kv::net {

// Failures that end an operation in an expected way (the peer closing is one); callers that
// report errors may choose to stay quiet about them.
KV_DECLARE_EXCEPTION(EIdSilentException, EIdException);

// --- Buffered reading and writing ---------------------------------------------------------------
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdConnClosedGracefully, EIdSilentException,
                               "Connection Closed Gracefully.");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdReadTimeout, EIdException, "Read timed out.");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdNotConnected, EIdException, "Not Connected");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdClosedSocket, EIdException, "Disconnected.");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdReadLnMaxLineLengthExceeded, EIdException,
                               "Max line length exceeded.");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdReadLnWaitMaxAttemptsExceeded, EIdException,
                               "Max line read attempts exceeded.");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdTooMuchDataInBuffer, EIdException, "Too much data in buffer.");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdNotEnoughDataInBuffer, EIdException,
                               "Not enough data in buffer.");

KV_DECLARE_EXCEPTION(EIdIOHandler, EIdException);
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdIOHandlerStreamDataTooLarge, EIdIOHandler,
                               "Data is too large for stream");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdIOHandlerRequiresLargeStream, EIdIOHandler,
                               "Set LargeStream to True to send streams greater than 2GB");

KV_DECLARE_EXCEPTION(EIdTCPConnectionError, EIdException);
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.");

// --- Connection set-up --------------------------------------------------------------------------
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdAlreadyConnected, EIdException, "Already connected.");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdHostRequired, EIdException, "A Host is required");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdPortRequired, EIdException, "A Port is required");
KV_DECLARE_EXCEPTION_WITH_TEXT(EIdConnectTimeout, EIdException, "Connect timed out.");
// A connect on the time-limited path that failed without leaving an exception of its own.
KV_DECLARE_EXCEPTION(EIdConnectException, EIdException);

}  // namespace kv::net
