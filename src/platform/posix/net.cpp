// posix net service
