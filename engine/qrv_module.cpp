// libqrv.so's module: loading and unloading it runs no code of its own. Every
// piece of module-wide state (the StandaloneEngine's record, the table of live
// views) starts from its static initial value.
