#pragma once

// Forward declarations of the connection layer, so headers stay light.
namespace kv::net {

class EIdException;
class TIdStream;
class TIdMemoryStream;
class TIdFileStream;
class TIdStack;
class TIdStackBSDBase;
class TIdSocketHandle;
class TIdComponent;
class TIdBuffer;
class TIdIOHandler;
class TIdIOHandlerSocket;
class TIdIOHandlerStack;
class TIdTCPConnection;
class TIdTCPClientCustom;
class TIdTCPClient;

}  // namespace kv::net
