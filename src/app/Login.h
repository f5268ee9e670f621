#pragma once
// Logging in ("user/checkaccess" with the credentials in use) and logging out.

namespace velmora {

class Engine;

// Checks UserName/Password with the service. On success lists the service playlists, shows
// "Logged in successfully", marks the engine logged in and adds " (user)" to the caption. Code
// 1300 shows the upgrade message and opens the download page, credentials kept. Any other failure
// forgets the credentials that were tried (Engine::ForgetRefusedCredentials: the stored ones are
// erased when they are the tried account's), shows "Login failed" and the error box. Returns
// IsLoggedIn().
// Errors of the playlist listing are not caught: they end the login before it is marked done.
// Refused while another activity runs.
bool performLogin(Engine& engine);

// Forgets and saves the credentials and asks for a restart; the caller then closes the program.
// Refused (false, nothing forgotten) while another activity runs.
bool Logout(Engine& engine);

} // namespace velmora
