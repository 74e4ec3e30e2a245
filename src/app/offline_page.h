// The page shown when no application server answers.
#pragma once

namespace vm {

inline constexpr const char* kOfflinePage =
    "<h1>Unable To reach the tessel application servers.</h1><p>Please make sure your internet "
    "connection is enabled and you're not blocking any internet traffic for this "
    "application.</p><p>It also might be because of some maintenance. If you are sure that the "
    "internet connection is fine, try it again later.</p><center><button onclick=\"retry(this);\" "
    "style=\"font-size: 130%;\" autofocus>Try again</button>&nbsp;<button "
    "onclick=\"proxy(this);\" style=\"font-size: 130%;\" autofocus>Enter proxy "
    "server</button></center><script>async function retry(me) {me.style.display = 'none';await "
    "new Promise(r => setTimeout(r, 1000));window.reload();}async function proxy(me) "
    "{me.style.display = 'none';await new Promise(r => setTimeout(r, 1000));window.askProxy();}"
    "</script>";

}  // namespace vm
