#pragma once
// The picture type belongs to the foundation now (app/Picture.h); this
// name is kept so that code written against it still builds.
#include "app/Picture.h"
