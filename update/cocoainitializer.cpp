#include "update/cocoainitializer.h"

CocoaInitializer::CocoaInitializer() = default;

CocoaInitializer::~CocoaInitializer() = default;
