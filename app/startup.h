#pragma once

// The program's start-up steps, in the order they run. Names that begin with an underscore and a
// capital are reserved in C++, so each carries its underscore at the end instead.

/// Module initialisation, then the framework's run with Startup_, then module finalisation.
/// Returns the process exit code.
int Main_(int argc, char **argv);

void Startup_();
void InitFileTypes_();
void NewAppInstance_();
void ApplicationAddMenuHandlers_();
void MakeDefaultView_();

/// Drops the program's globals in their fixed order; the end of every run.
void ModuleFinalize();
