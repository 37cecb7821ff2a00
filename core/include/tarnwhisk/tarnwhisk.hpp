// Everything of the tarnwhisk core library.
#pragma once

#include "tarnwhisk/allowlist.hpp"
#include "tarnwhisk/batch.hpp"
#include "tarnwhisk/censor.hpp"
#include "tarnwhisk/config.hpp"
#include "tarnwhisk/data.hpp"
#include "tarnwhisk/error.hpp"
#include "tarnwhisk/matcher.hpp"
#include "tarnwhisk/normalize.hpp"
#include "tarnwhisk/scorer.hpp"
#include "tarnwhisk/stream.hpp"
