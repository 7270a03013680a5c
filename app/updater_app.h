#pragma once
// The application: one global object. Run sets up Qt and calls InitInstance,
// which runs the main window modally; when it ends, the application ends.

class CUpdaterApp {
public:
    CUpdaterApp();
    virtual ~CUpdaterApp();

    int Run(int argc, char** argv);
    virtual bool InitInstance();
};
