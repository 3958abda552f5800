// win32 net service
