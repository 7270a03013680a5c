#include "app/updater_app.h"

CUpdaterApp theApp;

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
