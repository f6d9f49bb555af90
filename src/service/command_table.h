#ifndef ORVO_SERVICE_COMMAND_TABLE_H_
#define ORVO_SERVICE_COMMAND_TABLE_H_

// The command table of this build: every command number with the worker and payload builder
// its subsystem offers (a command whose subsystem is not built keeps null entries and answers
// as an unknown command). It lives here, above every subsystem, so that the protocol's
// dispatch never depends on the subsystems that register commands.

// Installs the table (InstallCommandTable). Call once at start-up, before the first request.
void InstallServiceCommandTable();

#endif  // ORVO_SERVICE_COMMAND_TABLE_H_
