#pragma once
// The connection helpers of the HTTP sessions live in the network library
// (netlib/layers/HttpConnection.h), where the engine update reaches them too.

#include "netlib/layers/HttpConnection.h"
