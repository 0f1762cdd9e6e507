// The device's Remote API access policy (4097) around the client's
// installation: full access while the client is installed, where the
// administrator has not turned the Remote API off, and the value it
// replaced put back when the client goes.
#ifndef REMOTE_API_POLICY_H
#define REMOTE_API_POLICY_H

// Grants full Remote API access unless the device already has it or has the
// Remote API turned off, and records the value the grant replaced. Where the
// policy cannot be read, grants as before and records nothing.
void GrantRemoteApiAccess(void);

// Puts back the recorded value, if the device is still at full access, and
// deletes the record in every case. Shows nothing.
void RestoreRemoteApiAccess(void);

#endif
