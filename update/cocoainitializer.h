#ifndef COCOAINITIALIZER_H
#define COCOAINITIALIZER_H

// Brackets the event loop for the update layer.  The macOS build needed an
// application environment set up around the loop; on Linux there is nothing
// to prepare, so this object does nothing.  main() keeps one on its stack.
class CocoaInitializer
{
public:
    CocoaInitializer();
    ~CocoaInitializer();

    CocoaInitializer(const CocoaInitializer &) = delete;
    CocoaInitializer &operator=(const CocoaInitializer &) = delete;
};

#endif // COCOAINITIALIZER_H
