# Build-time configuration. Every value has the release default and can be
# overridden on the cmake command line (the demo and the tests point every
# endpoint at loopback servers).
set(VELOMARK_APP_HOST_TEMPLATE "app%id%.velomark.example" CACHE STRING "Application server host template; %id% is 1, 2 or 3 (may carry :port)")
set(VELOMARK_APP_DOMAIN "dev.velomark.example" CACHE STRING "Domain of the developer servers")
set(VELOMARK_PACKAGE_HOST "packages.velomark.example" CACHE STRING "Package server host serving /update.json")
set(VELOMARK_DOH_HOST "dns.google" CACHE STRING "DNS-over-HTTPS resolver host of the PAC helpers")
set(VELOMARK_MS_CLIENT_ID "00000000-0000-0000-0000-000000000000" CACHE STRING "Microsoft OAuth client identifier")
set(VELOMARK_MS_LOGIN_HOST "login.microsoftonline.com" CACHE STRING "Microsoft sign-in host")
set(VELOMARK_MS_SCOPE_HOST "outlook.office.com" CACHE STRING "Microsoft scope host")
set(VELOMARK_GOOGLE_CLIENT_ID "placeholder.apps.googleusercontent.com" CACHE STRING "Google OAuth client identifier")
set(VELOMARK_GOOGLE_CLIENT_SECRET "placeholder-secret" CACHE STRING "Google OAuth client secret")
set(VELOMARK_GOOGLE_AUTH_HOST "accounts.google.com" CACHE STRING "Google sign-in host")
set(VELOMARK_GOOGLE_TOKEN_HOST "oauth2.googleapis.com" CACHE STRING "Google token host")
set(VELOMARK_GOOGLE_SCOPE_HOST "www.googleapis.com" CACHE STRING "Google scope host")
set(VELOMARK_UPDATE_CA_FILE "" CACHE FILEPATH "Certificate authority (PEM) that issues the maker's code-signing certificate: the only trust anchor of the update signature check; with none, no update is ever handed over")
set(VELOMARK_EXTRA_CA_FILE "" CACHE FILEPATH "Extra trusted CA (PEM) for the HTTP client, SMTP and the web view; empty in release builds")
# The desktop's name for the client: the session-bus name that keeps it to one
# instance, the window class, and the file names of its desktop entry, icon,
# file-type definition and metainfo.
set(VELOMARK_APP_ID "example.velomark.Client" CACHE STRING "Reverse-DNS application id of the client on the desktop")
# Secret-protection constants of the legacy format (fixed key text and check sentence).
set(VELOMARK_LEGACY_KEY_TEXT "velomarkid3C:52:A1:0E:77:F4" CACHE STRING "Fixed key text of the legacy secret format: ten lower-case letters and six colon-separated upper-case hex pairs")
set(VELOMARK_LEGACY_CHECK_SENTENCE "the mail went out fine" CACHE STRING "Check sentence stored as keyTest: five lower-case words, 22 characters")

configure_file(${CMAKE_CURRENT_LIST_DIR}/build_config.h.in ${CMAKE_BINARY_DIR}/generated/build_config.h @ONLY)
