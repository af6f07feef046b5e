#pragma once

#include "platform/application.h"

#include <string>
#include <vector>

/// The application object: opens the catalogue and titles the main window (the one start-up
/// registered with the framework).
class App : public platform::Application
{
public:
    /// True only when the catalogue file existed and its connection opened at start-up.
    bool DBExists = false;

    void Event_Open() override;
    /// Opens or creates the catalogue "crcData.rsd" beside the application into Globals::g_DB.
    virtual void CheckForDatabase();
};

/// The registered application object. (The accessor cannot share its class's name in C++.)
App &App_();

/// "Tallowmere -  Version " and the three numbers joined by points.
std::string VersionTitle(int major, int minor, int nonRelease);

/// The statements that make a new catalogue, in the order they run.
const std::vector<std::string> &CatalogueCreationStatements();
