#pragma once

// What the Redis clients share inside this library; not for callers (it names hiredis types).
#include "stores/shared/RedisPool.h"

#include <chrono>
#include <hiredis/hiredis.h>

namespace reflector {

RedisValue redisValueOf(const redisReply* reply);
timeval redisTimeval(std::chrono::milliseconds span);
// Why the connection failed, for a message (hiredis's text; a time-out said as one).
std::string redisFailure(const redisContext* context, std::chrono::milliseconds timeout);

} // namespace reflector
