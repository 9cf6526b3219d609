// replaced by FileStream
